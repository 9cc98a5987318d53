#pragma once

#include <QDialog>

class Prompts;
class QLabel;
class QLineEdit;
class QPushButton;

// Guards expert mode. Its only result is PasswordAccepted: true after the right password,
// false after a cancel, unchanged when the dialog is closed any other way.
class frmLogin : public QDialog {
    Q_OBJECT
public:
    static inline const QString ExpertPassword = QStringLiteral("40917");

    frmLogin(bool& PasswordAccepted, Prompts& prompts, QWidget* parent = nullptr);

    void cmdOK_Click();
    void cmdCancel_Click();

    QLabel* lblLabels;
    QLineEdit* txtPassword;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // The title bar's close box ends the dialog without touching PasswordAccepted.
    void reject() override { QDialog::done(QDialog::Rejected); }

private:
    bool& PasswordAccepted;
    Prompts& prompts;
};

// How the Expert command asks for the password; tests answer it without a dialog.
class PasswordPrompt {
public:
    virtual ~PasswordPrompt() = default;
    virtual void showLogin(bool& PasswordAccepted, Prompts& prompts) = 0;
};

class LoginDialogPrompt : public PasswordPrompt {
public:
    explicit LoginDialogPrompt(QWidget* parent)
        : parent(parent) {}
    void showLogin(bool& PasswordAccepted, Prompts& prompts) override;
    void setParentWindow(QWidget* window) { parent = window; }

private:
    QWidget* parent;
};
