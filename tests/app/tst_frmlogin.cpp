// Tests of the expert password dialog.
#include "FormRig.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QtTest>

class TestFrmLogin : public QObject {
    Q_OBJECT
private slots:
    void layout();
    void password_data();
    void password();
    void escapeCancels();
    void enterPressesTheFocusedButton_data();
    void enterPressesTheFocusedButton();
    void closeBoxAfterRefusalKeepsItLocked();
    void escapeInTheDialogDoesNotExit();
};

void TestFrmLogin::layout() {
    bool accepted = false;
    RecordingPrompts prompts;
    frmLogin dialog(accepted, prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Expert Password"));
    QCOMPARE(dialog.size(), QSize(250, 103));
    QCOMPARE(dialog.txtPassword->geometry(), QRect(80, 35, 87, 23));
    QCOMPARE(dialog.txtPassword->echoMode(), QLineEdit::Password);
    QVERIFY(!dialog.txtPassword->testAttribute(Qt::WA_InputMethodEnabled));
    QCOMPARE(QApplication::focusWidget(), dialog.txtPassword);
    QVERIFY(dialog.cmdOK->isDefault());
    QCOMPARE(dialog.cmdCancel->text(), QStringLiteral("Abbrechen"));
    QCOMPARE(dialog.txtPassword->text(), QString());
    QCOMPARE(dialog.txtPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                    dialog.txtPassword),
             int('*'));
    QTest::keyClicks(dialog.txtPassword, "40917");
    QCOMPARE(dialog.txtPassword->displayText(), QStringLiteral("*****"));
}

void TestFrmLogin::password_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("right") << "40917" << true;
    QTest::newRow("trailing blank") << "40917 " << false;
    QTest::newRow("leading blank") << " 40917" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("one off") << "40918" << false;
    QTest::newRow("as a number") << "040917" << false;
}

void TestFrmLogin::password() {
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    bool PasswordAccepted = false;
    RecordingPrompts prompts;
    frmLogin dialog(PasswordAccepted, prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClicks(dialog.txtPassword, typed);
    dialog.cmdOK->setFocus(); // the box must get the focus back after a refusal
    QTest::keyClick(dialog.txtPassword, Qt::Key_Return);

    QCOMPARE(PasswordAccepted, accepted);
    if (accepted) {
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        return;
    }
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.first().text, QStringLiteral("Invalid Password. Please try again!"));
    QCOMPARE(prompts.messages.first().title, QStringLiteral("Expert Password"));
    QCOMPARE(prompts.messages.first().icon, MessageIcon::None);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.txtPassword->text(), typed);
    QCOMPARE(QApplication::focusWidget(), dialog.txtPassword);

    // Corrected, the next Enter unlocks.
    dialog.txtPassword->selectAll();
    QTest::keyClicks(dialog.txtPassword, "40917");
    QTest::keyClick(dialog.txtPassword, Qt::Key_Enter);
    QVERIFY(PasswordAccepted);
}

void TestFrmLogin::escapeCancels() {
    bool PasswordAccepted = true; // cancel writes false, whatever it was
    RecordingPrompts prompts;
    frmLogin dialog(PasswordAccepted, prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(dialog.txtPassword, Qt::Key_Escape);
    QVERIFY(!PasswordAccepted);
    QVERIFY(!dialog.isVisible());
}

void TestFrmLogin::enterPressesTheFocusedButton_data() {
    QTest::addColumn<bool>("onCancel"); // else in the password box, holding a wrong password
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::newRow("Return on Cancel") << true << int(Qt::Key_Return) << Qt::KeyboardModifiers();
    QTest::newRow("keypad Enter on Cancel")
        << true << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier);
    QTest::newRow("Return in the box tries OK") << false << int(Qt::Key_Return) << Qt::KeyboardModifiers();
}

void TestFrmLogin::enterPressesTheFocusedButton() {
    QFETCH(bool, onCancel);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    bool PasswordAccepted = true; // cancel writes false; a refused password leaves it
    RecordingPrompts prompts;
    frmLogin dialog(PasswordAccepted, prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClicks(dialog.txtPassword, "1");
    QWidget* focused = onCancel ? static_cast<QWidget*>(dialog.cmdCancel) : dialog.txtPassword;
    focused->setFocus();
    QCOMPARE(QApplication::focusWidget(), focused);
    QTest::keyClick(focused, Qt::Key(key), modifiers);

    QCOMPARE(PasswordAccepted, !onCancel);
    QCOMPARE(dialog.isVisible(), !onCancel);
    QCOMPARE(prompts.texts(), onCancel ? QStringList() : QStringList{"Invalid Password. Please try again!"});
}

void TestFrmLogin::closeBoxAfterRefusalKeepsItLocked() {
    for (bool before : {false, true}) {
        bool PasswordAccepted = before;
        RecordingPrompts prompts;
        frmLogin dialog(PasswordAccepted, prompts);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClicks(dialog.txtPassword, "1234");
        dialog.cmdOK->click();
        QCOMPARE(prompts.messages.size(), 1);
        dialog.close();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(PasswordAccepted, before);
    }
}

void TestFrmLogin::escapeInTheDialogDoesNotExit() {
    FormRig rig;
    LoginDialogPrompt realDialog(nullptr);
    Form1Seams seams = rig.seams();
    seams.passwordPrompt = &realDialog;
    Form1& form = rig.start(std::move(seams));

    bool sawDialog = false;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<frmLogin*>(QApplication::activeModalWidget());
        sawDialog = dialog != nullptr;
        if (dialog)
            QTest::keyClick(dialog->txtPassword, Qt::Key_Escape);
    });
    QTest::keyClick(form.Text_Filename, Qt::Key_F2);
    QVERIFY(sawDialog);
    QCOMPARE(rig.processEnded, 0);
    QVERIFY(form.isVisible());
    QVERIFY(!form.ExpertMode);
}

QTEST_MAIN(TestFrmLogin)
#include "tst_frmlogin.moc"
