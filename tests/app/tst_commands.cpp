// Tests of the window's commands: keys, toolbar, Update, Expert and the communication test.
#include "AutoSizeLabel.h"
#include "FormRig.h"

#include "UpdateEngine.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolBar>
#include <QtTest>

class TestCommands : public QObject {
    Q_OBJECT
private slots:
    void updateKeysRunOneSession_data();
    void updateKeysRunOneSession();
    void secondUpdateKeyIsIgnoredWhileRunning();
    void expertUnlock_data();
    void expertUnlock();
    void doNothingButtons();
    void comTest_data();
    void comTest();
    void comTestIsNotStartedTwice();
    void comTestIsRefusedDuringAnUpdate();
    void noDialogOpensDuringASession_data();
    void noDialogOpensDuringASession();
};

namespace {
void press(Form1& form, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(form.Text_Filename, key, modifiers);
}
} // namespace

void TestCommands::updateKeysRunOneSession_data() {
    QTest::addColumn<int>(
        "how"); // 0 F1, 1 Shift+F1, 2 Update button, 3 F2 after unlock, 4 Ctrl+F2 after unlock
    QTest::newRow("F1") << 0;
    QTest::newRow("Shift+F1") << 1;
    QTest::newRow("Update button") << 2;
    QTest::newRow("F2 in expert mode") << 3;
    QTest::newRow("Ctrl+F2 in expert mode") << 4;
}

void TestCommands::updateKeysRunOneSession() {
    QFETCH(int, how);
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    const QByteArray image = rig.writeImage("QVL-GEN-A.bin", 2 * 65536);
    Form1& form = rig.start();
    if (how >= 3) {
        rig.password.answer = ScriptedPassword::Answer::Accept;
        form.expertCommand();
        QVERIFY(form.ExpertMode);
    }
    bool disabledDuringSession = true;
    rig.world.at(2000, [&] { disabledDuringSession = !form.toolbarButton(Form1::Update)->isEnabled(); });

    switch (how) {
    case 0:
        press(form, Qt::Key_F1);
        break;
    case 1:
        press(form, Qt::Key_F1, Qt::ShiftModifier);
        break;
    case 2:
        form.toolbarButton(Form1::Update)->trigger();
        break;
    case 3:
        press(form, Qt::Key_F2);
        break;
    case 4:
        press(form, Qt::Key_F2, Qt::ControlModifier);
        break;
    }
    QCOMPARE(rig.module->completedTransfers, 1);
    QCOMPARE(rig.module->completedImage, image);
    QVERIFY(disabledDuringSession);
    QVERIFY(form.toolbarButton(Form1::Update)->isEnabled());
    QVERIFY(!form.updateRunning());
    QCOMPARE(form.Text_Filename->text(), rig.programFolder() + "/QVL-GEN-A.bin");
    QCOMPARE(form.Label_title->text(), QStringLiteral("Ready"));
}

void TestCommands::secondUpdateKeyIsIgnoredWhileRunning() {
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    rig.writeImage("QVL-GEN-A.bin", 65536);
    Form1& form = rig.start();
    rig.world.at(500, [&] { press(form, Qt::Key_F1); });
    rig.world.at(3000, [&] { press(form, Qt::Key_F1); });
    press(form, Qt::Key_F1);
    QCOMPARE(rig.module->probes, 1);
    QCOMPARE(rig.module->announcements, 1);
    QCOMPARE(rig.module->completedTransfers, 1);
}

void TestCommands::expertUnlock_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("unlocked");
    QTest::newRow("accepted") << int(ScriptedPassword::Answer::Accept) << true;
    QTest::newRow("cancelled") << int(ScriptedPassword::Answer::Cancel) << false;
    QTest::newRow("closed by the close box") << int(ScriptedPassword::Answer::CloseBox) << false;
}

void TestCommands::expertUnlock() {
    QFETCH(int, answer);
    QFETCH(bool, unlocked);
    FormRig rig;
    Form1& form = rig.start();
    rig.password.answer = ScriptedPassword::Answer(answer);
    press(form, Qt::Key_F2);
    QCOMPARE(rig.password.shown, 1);
    QCOMPARE(form.ExpertMode, unlocked);
    QCOMPARE(form.toolbarButton(Form1::AddFile)->isVisible(), unlocked);
    QCOMPARE(form.toolbarButton(Form1::Expert)->isVisible(), !unlocked);

    QStringList shown;
    for (QAction* action : form.Toolbar1->actions())
        if (action->isVisible())
            shown << (action->isSeparator() ? QStringLiteral("|") : action->text());
    QCOMPARE(shown, unlocked ? (QStringList{"Add File", "Update", "|", "Exit"})
                             : (QStringList{"Update", "Expert", "|", "Exit"}));

    if (!unlocked) {
        // The dialog can be opened again, by the button this time.
        form.toolbarButton(Form1::Expert)->trigger();
        QCOMPARE(rig.password.shown, 2);
    }
}

void TestCommands::doNothingButtons() {
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    Form1& form = rig.start();
    for (int index : {1, 2, 6})
        form.Toolbar1_ButtonClick(index);
    press(form, Qt::Key_F3);
    press(form, Qt::Key_A);
    QVERIFY(rig.serial.wire.isEmpty());
    QVERIFY(rig.prompts.messages.isEmpty());
    QCOMPARE(rig.password.shown, 0);
    QCOMPARE(rig.fileDialog.shown, 0);
    QCOMPARE(rig.processEnded, 0);
}

void TestCommands::comTest_data() {
    QTest::addColumn<int>("upAtMs"); // -1: the module stays silent
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QList<QByteArray>>("confirmation"); // pieces, 100 ms apart
    QTest::addColumn<QString>("result");

    QTest::newRow("silent") << -1 << QByteArray() << QList<QByteArray>{} << "Serial Communication failed!";
    QTest::newRow("UP after 2 s") << 2000 << QByteArray("UP") << QList<QByteArray>{"OK"}
                                  << "Serial Communication O.K.";
    QTest::newRow("UP with more text")
        << 500 << QByteArray("UP12") << QList<QByteArray>{"OK"} << "Serial Communication O.K.";
    QTest::newRow("a character before UP")
        << 500 << QByteArray("xUP") << QList<QByteArray>{"OK"} << "Serial Communication failed!";
    QTest::newRow("confirmation in two pieces")
        << 500 << QByteArray("UP") << QList<QByteArray>{"O", "K"} << "Serial Communication O.K.";
    QTest::newRow("text after the confirmation")
        << 500 << QByteArray("UP") << QList<QByteArray>{"OK??"} << "Serial Communication failed!";
    QTest::newRow("no confirmation") << 500 << QByteArray("UP") << QList<QByteArray>{}
                                     << "Serial Communication failed!";
}

void TestCommands::comTest() {
    QFETCH(int, upAtMs);
    QFETCH(QByteArray, request);
    QFETCH(QList<QByteArray>, confirmation);
    QFETCH(QString, result);
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    Form1& form = rig.start();
    qint64 repliedAt = -1;
    qint64 upSeenAt = -1;
    rig.serial.onWrite = [&](const QByteArray& bytes) {
        QCOMPARE(bytes, QByteArray("OK\x01", 3));
        repliedAt = rig.world.now();
        for (int i = 0; i < confirmation.size(); ++i)
            rig.world.after(100 * (i + 1), [&, piece = confirmation[i]] { rig.serial.deliver(piece); });
    };
    QString elapsedAtStart;
    QString panelWhileRunning;
    rig.world.at(1, [&] {
        elapsedAtStart = form.lblZeit->text();
        panelWhileRunning = form.statusPanelText(2);
    });
    if (upAtMs >= 0)
        rig.world.at(upAtMs, [&] {
            upSeenAt = rig.world.now();
            rig.serial.deliver(request);
        });
    qint64 boxAt = -1;
    bool busyWhileBoxShown = false;
    rig.prompts.whileShown = [&](const Message&) {
        boxAt = rig.world.now();
        busyWhileBoxShown = form.ComTestRunning;
    };
    form.lblZeit->setText("1:02:03");
    press(form, Qt::Key_T, Qt::ControlModifier);

    QCOMPARE(rig.prompts.messages.size(), 1);
    QCOMPARE(rig.prompts.messages.first().text, result);
    QCOMPARE(rig.prompts.messages.first().title, QStringLiteral("Com-Test"));
    QCOMPARE(rig.prompts.messages.first().icon,
             result.endsWith("O.K.") ? MessageIcon::Information : MessageIcon::Critical);
    QCOMPARE(elapsedAtStart, QStringLiteral("0:00:00"));
    QCOMPARE(panelWhileRunning, QStringLiteral("Testmode - Waiting for request..."));
    QVERIFY(busyWhileBoxShown);
    if (request == "UP" || request == "UP12") {
        QVERIFY(repliedAt >= upSeenAt + 1000 && repliedAt <= upSeenAt + 1030);
    } else {
        QCOMPARE(repliedAt, qint64(-1));
        QVERIFY(boxAt > 4000 && boxAt <= 4030);
    }
    if (result.endsWith("failed!") && repliedAt >= 0)
        QVERIFY(boxAt > repliedAt + 4000 && boxAt <= repliedAt + 4030);
    QVERIFY(!form.ComTestRunning);
    QCOMPARE(form.statusPanelText(2), QString());
}

void TestCommands::comTestIsNotStartedTwice() {
    FormRig rig({1});
    Form1& form = rig.start();
    rig.world.at(1000, [&] { press(form, Qt::Key_T, Qt::ControlModifier); });
    int boxes = 0;
    rig.prompts.whileShown = [&](const Message&) {
        if (++boxes == 1)
            press(form, Qt::Key_T, Qt::ControlModifier); // while the result is shown
    };
    press(form, Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(boxes, 1);
    press(form, Qt::Key_T, Qt::ControlModifier); // after the clean-up a new test runs
    QCOMPARE(boxes, 2);
}

void TestCommands::comTestIsRefusedDuringAnUpdate() {
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    rig.writeImage("QVL-GEN-A.bin", 65536);
    Form1& form = rig.start();
    rig.world.at(2500, [&] { press(form, Qt::Key_T, Qt::ControlModifier); });
    press(form, Qt::Key_F1);
    QCOMPARE(rig.module->completedTransfers, 1);
    QVERIFY(rig.prompts.messages.isEmpty());
    QVERIFY(!form.ComTestRunning);
}

void TestCommands::noDialogOpensDuringASession_data() {
    QTest::addColumn<int>("command"); // 0 F2, 1 Expert button, 2 Add File button (expert mode)
    QTest::addColumn<bool>("comTest");
    const char* commands[] = {"F2", "Expert button", "Add File button"};
    for (int command = 0; command < 3; ++command) {
        QTest::addRow("%s during an update", commands[command]) << command << false;
        QTest::addRow("%s during the communication test", commands[command]) << command << true;
    }
}

// Each dialog, had it opened, would hold the event loop for 10 s, as an operator reading it
// does: long enough for the module to give up on its sector and for the communication test to
// time out. Refused, no dialog opens and the session ends as it would have without the press.
void TestCommands::noDialogOpensDuringASession() {
    QFETCH(int, command);
    QFETCH(bool, comTest);
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    const QByteArray image = rig.writeImage("QVL-GEN-A.bin", 2 * 65536);
    Form1& form = rig.start();
    if (command == 2) {
        rig.password.answer = ScriptedPassword::Answer::Accept;
        form.expertCommand();
        QVERIFY(form.toolbarButton(Form1::AddFile)->isVisible());
        rig.password.shown = 0;
    }
    rig.password.whileShown = [&] { rig.holdInDialog(10000); };
    rig.fileDialog.whileShown = [&] { rig.holdInDialog(10000); };
    rig.fileDialog.path = rig.dir.path() + "/QVL-GEN-B.bin";

    bool sessionRunning = false;
    bool buttonsGreyed = false;
    auto pressDuringTheSession = [&] {
        sessionRunning = comTest ? form.ComTestRunning : form.updateRunning();
        buttonsGreyed = !form.toolbarButton(Form1::Expert)->isEnabled() &&
                        !form.toolbarButton(Form1::AddFile)->isEnabled() &&
                        !form.toolbarButton(Form1::Update)->isEnabled();
        if (command == 0)
            press(form, Qt::Key_F2);
        else
            form.toolbarButton(command == 1 ? Form1::Expert : Form1::AddFile)->trigger();
        if (command != 0) // a greyed button is not the only guard: the command itself refuses
            form.Toolbar1_ButtonClick(command == 1 ? Form1::Expert : Form1::AddFile);
    };

    if (comTest) {
        rig.serial.onWrite = [&](const QByteArray&) {
            rig.world.after(100, [&] { rig.serial.deliver("OK"); });
        };
        rig.world.at(1000, pressDuringTheSession);
        rig.world.at(2000, [&] { rig.serial.deliver("UP"); });
        press(form, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(rig.prompts.texts(), QStringList{"Serial Communication O.K."});
    } else {
        // Mid-transfer: the first sector is on its way.
        rig.whenever([&] { return rig.module->announcements == 1; }, pressDuringTheSession);
        press(form, Qt::Key_F1);
        QCOMPARE(rig.module->completedTransfers, 1);
        QCOMPARE(rig.module->completedImage, image);
        QCOMPARE(form.engine().state().ErrorCount, qint16(0));
        QCOMPARE(form.engine().lastReport().outcome, SessionOutcome::Success);
        QVERIFY2(rig.prompts.messages.isEmpty(), qPrintable(rig.prompts.texts().join(" | ")));
    }
    QVERIFY(sessionRunning);
    QVERIFY(buttonsGreyed);
    QCOMPARE(rig.password.shown, 0);
    QCOMPARE(rig.fileDialog.shown, 0);
    QVERIFY(!QFile::exists(rig.programFolder() + "/QVL-GEN-B.bin"));
    QCOMPARE(form.ExpertMode, command == 2);
    // After the session the commands are there again (a hidden action counts as disabled).
    QCOMPARE(form.toolbarButton(Form1::Expert)->isEnabled(), command != 2);
    QCOMPARE(form.toolbarButton(Form1::AddFile)->isEnabled(), command == 2);
    rig.password.whileShown = nullptr;
    if (command == 2) {
        form.toolbarButton(Form1::AddFile)->trigger();
        QCOMPARE(rig.fileDialog.shown, 1);
    } else {
        press(form, Qt::Key_F2);
        QCOMPARE(rig.password.shown, 1);
    }
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
