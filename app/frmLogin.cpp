// The expert password dialog.
#include "frmLogin.h"

#include "ClassicLook.h"
#include "Prompts.h"
#include "Twips.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>

namespace {
using classic::arial;

// Masks each typed character with "*", as operators know the password box; the styles on
// hand draw a bullet instead.
class AsteriskMaskStyle : public QProxyStyle {
public:
    // Takes `base` (a fresh instance of the window's style) as its own.
    explicit AsteriskMaskStyle(QStyle* base)
        : QProxyStyle(base) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};
} // namespace

frmLogin::frmLogin(bool& PasswordAccepted, Prompts& prompts, QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , lblLabels(new QLabel(QStringLiteral("Please enter password:"), this))
    , txtPassword(new QLineEdit(this))
    , cmdOK(new QPushButton(QStringLiteral("OK"), this))
    , cmdCancel(new QPushButton(QStringLiteral("Abbrechen"), this))
    , PasswordAccepted(PasswordAccepted)
    , prompts(prompts) {
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QStringLiteral("Expert Password"));
    setFixedSize(twips::toPixels(3750), twips::toPixels(1545));

    lblLabels->setObjectName(QStringLiteral("lblLabels"));
    lblLabels->setFont(arial(9.75));
    lblLabels->move(twips::toPixels(840), twips::toPixels(180));
    lblLabels->adjustSize();

    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setFont(arial(14.25));
    txtPassword->setGeometry(twips::rect(1200, 525, 1305, 345));
    txtPassword->setEchoMode(QLineEdit::Password);
    // Owned by the dialog and created after the box: children are deleted in creation order,
    // so the style outlives the box that uses it.
    auto* maskStyle = new AsteriskMaskStyle(QStyleFactory::create(style()->name()));
    maskStyle->setParent(this);
    txtPassword->setStyle(maskStyle);
    // Typed characters must reach the box as they are, not through an input method.
    txtPassword->setAttribute(Qt::WA_InputMethodEnabled, false);
    txtPassword->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);

    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twips::rect(495, 1020, 1140, 390));
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(twips::rect(2100, 1020, 1140, 390));
    // Enter presses the focused button: on Cancel it cancels, elsewhere OK stays the default.
    cmdCancel->setAutoDefault(true);

    connect(cmdOK, &QPushButton::clicked, this, &frmLogin::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmLogin::cmdCancel_Click);

    setTabOrder(txtPassword, cmdOK);
    setTabOrder(cmdOK, cmdCancel);
    txtPassword->setFocus();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmLogin::cmdOK_Click() {
    // Compared exactly: no trimming, no case folding.
    if (txtPassword->text() == ExpertPassword) {
        PasswordAccepted = true;
        accept();
        return;
    }
    prompts.showMessage({QStringLiteral("Invalid Password. Please try again!"),
                         QStringLiteral("Expert Password"), MessageIcon::None});
    txtPassword->setFocus();
}

void frmLogin::cmdCancel_Click() {
    PasswordAccepted = false;
    QDialog::done(QDialog::Rejected);
}

void frmLogin::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmdCancel_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void LoginDialogPrompt::showLogin(bool& PasswordAccepted, Prompts& prompts) {
    frmLogin dialog(PasswordAccepted, prompts, parent);
    dialog.exec();
}
