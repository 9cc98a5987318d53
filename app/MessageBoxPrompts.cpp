// The message boxes of the window, shown with QMessageBox.
#include "MessageBoxPrompts.h"

#include <QApplication>
#include <QMessageBox>

namespace {
void fill(QMessageBox& box, const Message& message) {
    box.setWindowTitle(message.title.isEmpty() ? applicationTitle() : message.title);
    QString text = message.text;
    // A carriage return between two lines shows as a line break.
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(text);
    if (!message.detail.isEmpty())
        box.setDetailedText(message.detail);
    switch (message.icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MessageIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    if (message.buttons == MessageButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
}
} // namespace

MessageAnswer MessageBoxPrompts::showMessage(const Message& message) {
    // Above the dialog that asked, if one is open (the password dialog), else above the window.
    QWidget* owner = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : parent;
    QMessageBox box(owner);
    fill(box, message);
    return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

void MessageBoxPrompts::showNotice(const Message& message) {
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    fill(*box, message);
    box->open();
}
