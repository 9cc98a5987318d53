// The expert's image selection dialog and the chooser that shows it.
#include "Form_Filelist.h"

#include "ClassicLook.h"
#include "Twips.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QScreen>

Form_Filelist::Form_Filelist(const QStringList& names, QWidget* parent)
    : QDialog(parent)
    , Label1(new QLabel(QStringLiteral("Please select File:"), this))
    , List1(new QListWidget(this)) {
    setObjectName(QStringLiteral("Form_Filelist"));
    setWindowTitle(QStringLiteral("Fileselection"));
    setFixedSize(twips::toPixels(4680), twips::toPixels(3090));

    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(classic::arial(14.25));
    Label1->setGeometry(twips::rect(180, 120, 3975, 375));

    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twips::rect(120, 720, 4395, 2205));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->addItems(names);
    connect(List1, &QListWidget::itemDoubleClicked, this, &Form_Filelist::List1_DblClick);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Form_Filelist::List1_DblClick() {
    const QListWidgetItem* item = List1->currentItem();
    if (!item || !item->isSelected())
        return;
    chosen = item->text();
    accept();
}

FileListChooser::FileListChooser(QWidget* parent, PointerSwitch setBusyPointer)
    : parent(parent)
    , setBusyPointer(std::move(setBusyPointer)) {}

QString FileListChooser::chooseImage(const QStringList& namesNewestFirst) {
    Form_Filelist dialog(namesNewestFirst, parent);
    setBusyPointer(false);
    dialog.exec();
    setBusyPointer(true);
    return dialog.chosenName();
}
