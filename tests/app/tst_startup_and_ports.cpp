// Tests of start-up, shut-down and the port menu.
#include "AutoSizeLabel.h"
#include "FormRig.h"
#include "SilentListener.h"

#include "UpdateEngine.h"

#include <QAction>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTcpServer>
#include <QToolBar>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

class TestStartupAndPorts : public QObject {
    Q_OBJECT
private slots:
    void storedPortIsRestored_data();
    void storedPortIsRestored();
    void damagedSettingsFileDoesNotStopStartUp();
    void networkComsAreTriedAtOnce_data();
    void networkComsAreTriedAtOnce();
    void comsOnOneLineShareOneConnection_data();
    void comsOnOneLineShareOneConnection();
    void noUsablePortShowsTheBoxOnce();
    void selectionMovesTheMark();
    void reselectingReopensAndEmptiesTheBuffer();
    void failedOpenLeavesNoMark();
    void lostLineRemovesTheMark();
    void nothingStartsWhileAPortOpens_data();
    void nothingStartsWhileAPortOpens();
    void selectionIsRefusedDuringASession_data();
    void selectionIsRefusedDuringASession();
    void exitStoresThePortAndEnds_data();
    void exitStoresThePortAndEnds();
    void escapeDuringAnUpdateEndsTheProcess_data();
    void escapeDuringAnUpdateEndsTheProcess();
    void failureAtASignalledExitIsNoBox_data();
    void failureAtASignalledExitIsNoBox();
    void signalDuringTheShutDownEndsAtOnce();
};

void TestStartupAndPorts::storedPortIsRestored_data() {
    QTest::addColumn<QList<int>>("usable");
    QTest::addColumn<QString>("stored"); // empty: nothing stored yet
    QTest::addColumn<int>("marked");     // 0: no port selected
    QTest::addColumn<QString>("storedAtExit");

    QTest::newRow("first run") << QList<int>{2, 9} << "" << 0 << "9";
    QTest::newRow("9 from last run") << QList<int>{2, 9} << "9" << 9 << "9";
    QTest::newRow("4 usable") << QList<int>{4} << "4" << 4 << "4";
    QTest::newRow("4 busy") << QList<int>{2} << "4" << 0 << "4";
    QTest::newRow("garbage") << QList<int>{2} << "abc" << 0 << "9";
    QTest::newRow("out of range") << QList<int>{2} << "12" << 0 << "9";
    QTest::newRow("negative") << QList<int>{2} << "-3" << 0 << "9";
    QTest::newRow("zero") << QList<int>{2, 9} << "0" << 0 << "9";
}

void TestStartupAndPorts::storedPortIsRestored() {
    QFETCH(QList<int>, usable);
    QFETCH(QString, stored);
    QFETCH(int, marked);
    QFETCH(QString, storedAtExit);
    FormRig rig(QSet<int>(usable.begin(), usable.end()));
    if (!stored.isEmpty())
        rig.storeSetting("Settings/COM-Port", stored);
    Form1& form = rig.start();

    for (int i = 1; i <= 9; ++i) {
        QCOMPARE(form.comItem(i)->isChecked(), i == marked);
        QCOMPARE(form.comItem(i)->isVisible(), usable.contains(i));
    }
    QCOMPARE(rig.serial.PortOpen(), marked != 0);
    if (marked) {
        QCOMPARE(rig.serial.CommPort(), marked);
        QVERIFY(form.engine().state().RxBuffer.isEmpty());
    }
    QVERIFY(rig.prompts.messages.isEmpty());

    form.close();
    QVERIFY(!rig.serial.PortOpen());
    QCOMPARE(rig.storedPort(), storedAtExit);
    QCOMPARE(rig.processEnded, 1);
}

void TestStartupAndPorts::damagedSettingsFileDoesNotStopStartUp() {
    FormRig rig({3});
    QFile file(rig.settingsFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x00\xff[[[Settings\nCOM-Port=\x01\x02\n==\n", 30));
    file.close();
    Form1& form = rig.start();
    QCOMPARE(form.Label_title->text(), QStringLiteral("Ready"));
    QVERIFY(!rig.serial.PortOpen());
    form.close();
    QCOMPARE(rig.storedPort(), QStringLiteral("9"));
}

void TestStartupAndPorts::networkComsAreTriedAtOnce_data() {
    QTest::addColumn<QString>("hosts"); // per COM 1..9: '.' no line, 's' silent, 'r' refusing, 'l' listening
    QTest::addColumn<QList<int>>("usable"); // local ports the fake control opens
    QTest::addColumn<int>("stored");
    QTest::newRow("nine silent hosts") << "sssssssss" << QList<int>{} << 0;
    QTest::newRow("nine silent hosts, the stored one among them") << "sssssssss" << QList<int>{} << 4;
    QTest::newRow("a refusing host") << "..r......" << QList<int>{} << 0;
    QTest::newRow("a listening host beside a silent one") << ".ls......" << QList<int>{1, 2} << 2;
}

// Network COMs are tried together within one second: nine silent hosts (listeners whose queue
// is full, so a connection is never answered) cost the start-up that second, and are hidden with
// their reason; a host that takes the connection is shown, with its host and port in the tooltip.
void TestStartupAndPorts::networkComsAreTriedAtOnce() {
    QFETCH(QString, hosts);
    QFETCH(QList<int>, usable);
    QFETCH(int, stored);
    FormRig rig(QSet<int>(usable.begin(), usable.end()));
    std::vector<std::unique_ptr<SilentListener>> silent;
    QTcpServer listening;
    QVERIFY(listening.listen(QHostAddress::LocalHost));
    quint16 refusing = 0;
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        refusing = closed.serverPort();
    }
    for (int i = 1; i <= 9; ++i) {
        const QChar kind = hosts[i - 1];
        quint16 port = 0;
        if (kind == 's') {
            silent.push_back(std::make_unique<SilentListener>());
            QVERIFY(silent.back()->full);
            port = silent.back()->port;
        } else if (kind == 'r') {
            port = refusing;
        } else if (kind == 'l') {
            port = listening.serverPort();
        } else {
            continue;
        }
        const QString scheme = i % 2 ? "socket" : "rfc2217";
        rig.storeSetting(QStringLiteral("Ports/COM%1").arg(i),
                         QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port));
    }
    if (stored)
        rig.storeSetting("Settings/COM-Port", QString::number(stored));
    rig.serial.log.clear();
    QElapsedTimer started;
    started.start();
    Form1& form = rig.start();
    const qint64 took = started.elapsed();
    QVERIFY2(took < 1700, qPrintable(QStringLiteral("start-up took %1 ms").arg(took)));

    bool anyShown = false;
    for (int i = 1; i <= 9; ++i) {
        const QChar kind = hosts[i - 1];
        const bool shown = kind == 'l' || (kind == '.' && usable.contains(i));
        QCOMPARE(form.comItem(i)->isVisible(), shown);
        anyShown = anyShown || shown;
        if (kind == 'l')
            QVERIFY2(form.comItem(i)->toolTip().contains("127.0.0.1") &&
                         form.comItem(i)->toolTip().contains(QString::number(listening.serverPort())),
                     qPrintable(form.comItem(i)->toolTip()));
        if (kind == 's' || kind == 'r') // a network COM is never handed to the local control
            QVERIFY(rig.serial.log.filter(QRegularExpression(QStringLiteral("^(open|fail) %1").arg(i)))
                        .isEmpty());
    }
    QCOMPARE(form.comItem(0)->isVisible(), !anyShown);
    QCOMPARE(rig.serial.PortOpen(), stored != 0 && hosts[stored - 1] != 's' && hosts[stored - 1] != 'r');
    if (anyShown) {
        QCOMPARE(rig.prompts.messages.size(), 0);
        return;
    }
    QCOMPARE(rig.prompts.texts(), QStringList{"No Com Ports available!"});
    const QStringList lines = rig.prompts.messages.first().detail.split('\n');
    for (int i = 1; i <= 9; ++i) {
        const QString line = lines.filter(QStringLiteral("COM%1: ").arg(i)).value(0);
        if (hosts[i - 1] == 's')
            QVERIFY2(line.contains("did not answer within 1 s"), qPrintable(line));
        if (hosts[i - 1] == 'r')
            QVERIFY2(line.contains("refused the connection"), qPrintable(line));
    }
}

void TestStartupAndPorts::comsOnOneLineShareOneConnection_data() {
    QTest::addColumn<bool>("listening"); // else nothing listens on the shared line
    QTest::newRow("a listening line") << true;
    QTest::newRow("a refusing line") << false;
}

// COM2 and COM5 are one line under two names and schemes, COM7 another port of the same host:
// the start-up connects to the shared line once and gives both COMs its result, and each one's
// tooltip names the other.
void TestStartupAndPorts::comsOnOneLineShareOneConnection() {
    QFETCH(bool, listening);
    FormRig rig(QSet<int>{});
    QTcpServer shared, other;
    QVERIFY(shared.listen(QHostAddress::LocalHost) && other.listen(QHostAddress::LocalHost));
    const quint16 port = shared.serverPort();
    if (!listening)
        shared.close();
    rig.storeSetting("Ports/COM2", QStringLiteral("socket://127.0.0.1:%1").arg(port));
    rig.storeSetting("Ports/COM5", QStringLiteral("rfc2217://LOCALHOST:%1").arg(port));
    rig.storeSetting("Ports/COM7", QStringLiteral("socket://127.1:%1").arg(other.serverPort()));
    Form1& form = rig.start();
    QTest::qWait(100); // the connections made are accepted by now
    QVERIFY2(form.comItem(2)->toolTip().endsWith("\nsame line as COM5"),
             qPrintable(form.comItem(2)->toolTip()));
    QVERIFY2(form.comItem(5)->toolTip().endsWith("\nsame line as COM2"),
             qPrintable(form.comItem(5)->toolTip()));
    QVERIFY2(!form.comItem(7)->toolTip().contains("same line"), qPrintable(form.comItem(7)->toolTip()));
    QVERIFY(form.comItem(7)->isVisible());
    QVERIFY(other.nextPendingConnection() && !other.hasPendingConnections());
    QCOMPARE(form.comItem(2)->isVisible(), listening);
    QCOMPARE(form.comItem(5)->isVisible(), listening);
    if (listening)
        QVERIFY(shared.nextPendingConnection() && !shared.hasPendingConnections());
}

void TestStartupAndPorts::noUsablePortShowsTheBoxOnce() {
    FormRig rig(QSet<int>{});
    rig.serial.failures = {{3, SerialControl::OpenFailure::Busy},
                           {5, SerialControl::OpenFailure::PermissionDenied}};
    Form1& form = rig.start();
    QCOMPARE(rig.prompts.messages.size(), 1);
    const Message& box = rig.prompts.messages.first();
    QCOMPARE(box.text, QStringLiteral("No Com Ports available!"));
    QCOMPARE(box.title, QStringLiteral("ComPortError"));
    QCOMPARE(box.icon, MessageIcon::Critical);
    const QStringList lines = box.detail.split('\n');
    QCOMPARE(lines.size(), 10);
    QCOMPARE(lines[0], QStringLiteral("no serial device found"));
    QVERIFY(lines[1].startsWith("COM1: ") && lines[1].contains("does not exist"));
    QVERIFY(lines[3].contains("in use"));
    QVERIFY(lines[5].contains("permission denied"));
    QVERIFY(form.comItem(0)->isVisible());
    for (int i = 1; i <= 9; ++i)
        QVERIFY(!form.comItem(i)->isVisible());
    QCOMPARE(rig.serial.CommPort(), 9);
    QVERIFY(!rig.serial.PortOpen());
}

void TestStartupAndPorts::selectionMovesTheMark() {
    FormRig rig({2, 5});
    Form1& form = rig.start();
    form.com_Click(2);
    rig.serial.log.clear();
    form.com_Click(5);
    QVERIFY(!form.comItem(2)->isChecked());
    QVERIFY(form.comItem(5)->isChecked());
    QCOMPARE(rig.serial.log, (QStringList{"close 2", "open 5 in=2 len=0 out=16384 threshold=2"}));
    form.com_Click(0);
    QVERIFY(form.comItem(5)->isChecked());
    QCOMPARE(rig.serial.log.size(), 2);
    // The menu item's own click goes the same way.
    form.comItem(2)->trigger();
    QVERIFY(form.comItem(2)->isChecked());
    QVERIFY(!form.comItem(5)->isChecked());
    QCOMPARE(rig.serial.CommPort(), 2);
}

void TestStartupAndPorts::reselectingReopensAndEmptiesTheBuffer() {
    FormRig rig({2});
    Form1& form = rig.start();
    form.com_Click(2);
    form.engine().state().RxBuffer = "stale";
    rig.serial.log.clear();
    form.com_Click(2);
    QCOMPARE(rig.serial.log.size(), 2);
    QCOMPARE(rig.serial.log[0], QStringLiteral("close 2"));
    QVERIFY(rig.serial.log[1].startsWith("open 2"));
    QVERIFY(form.engine().state().RxBuffer.isEmpty());
    QVERIFY(form.comItem(2)->isChecked());
}

void TestStartupAndPorts::failedOpenLeavesNoMark() {
    FormRig rig({2, 7});
    Form1& form = rig.start();
    form.com_Click(2);
    rig.serial.usablePorts.remove(7);
    rig.serial.failures[7] = SerialControl::OpenFailure::Busy;
    form.com_Click(7);
    for (int i = 1; i <= 9; ++i)
        QVERIFY(!form.comItem(i)->isChecked());
    QVERIFY(!rig.serial.PortOpen());
    QCOMPARE(rig.prompts.messages.size(), 1);
    // The port is named once, then the reason.
    QCOMPARE(rig.prompts.messages.first().text,
             QStringLiteral("Com7 could not be opened: it is in use by another program."));

    rig.prompts.messages.clear();
    form.updateCommand();
    QCOMPARE(rig.prompts.texts(), QStringList{"No Com Port selected!"});
}

void TestStartupAndPorts::lostLineRemovesTheMark() {
    FormRig rig({3});
    Form1& form = rig.start();
    form.com_Click(3);
    rig.serial.hangUp();
    QVERIFY(!form.comItem(3)->isChecked());
    QCOMPARE(form.statusPanelText(2), QStringLiteral("Com3: line lost"));
    QVERIFY(!rig.serial.PortOpen());
    rig.serial.Output("XX"); // writes nothing, raises nothing
    QVERIFY(rig.serial.wire.isEmpty());
    form.updateCommand();
    QCOMPARE(rig.prompts.texts(), QStringList{"No Com Port selected!"});
}

void TestStartupAndPorts::nothingStartsWhileAPortOpens_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("another Com item") << "Com6";
    QTest::newRow("Update (F1)") << "F1";
    QTest::newRow("communication test (Ctrl+T)") << "Ctrl+T";
}

// A network port's connect runs the event loop for up to 3 s. What the operator does then
// is ignored: a second choice would leave the first connection behind, a session would start
// on a port that is not open yet.
void TestStartupAndPorts::nothingStartsWhileAPortOpens() {
    QFETCH(QString, action);
    FormRig rig({2, 5, 6});
    rig.writeImage("QVL-GEN-A.bin", 65536);
    Form1& form = rig.start();
    form.com_Click(2);
    rig.serial.log.clear();
    rig.prompts.messages.clear();
    int actions = 0;
    rig.serial.whileOpening = [&] {
        if (rig.serial.CommPort() != 5 || actions++ > 0)
            return;
        if (action == QLatin1String("Com6"))
            form.comItem(6)->trigger();
        else if (action == QLatin1String("F1"))
            QTest::keyClick(form.Text_Filename, Qt::Key_F1);
        else
            QTest::keyClick(form.Text_Filename, Qt::Key_T, Qt::ControlModifier);
    };
    form.comItem(5)->trigger();
    QCOMPARE(actions, 1);
    QCOMPARE(rig.serial.log, (QStringList{"close 2", "open 5 in=2 len=0 out=16384 threshold=2"}));
    QCOMPARE(rig.prompts.texts(), QStringList());
    QVERIFY(rig.serial.wire.isEmpty());
    for (int i = 1; i <= 9; ++i)
        QCOMPARE(form.comItem(i)->isChecked(), i == 5);
    // Once the open has ended, a choice is taken again.
    rig.serial.whileOpening = nullptr;
    form.comItem(6)->trigger();
    QVERIFY(form.comItem(6)->isChecked());
}

void TestStartupAndPorts::selectionIsRefusedDuringASession_data() {
    QTest::addColumn<bool>("comTest");
    QTest::newRow("update") << false;
    QTest::newRow("communication test") << true;
}

// Another port picked in the menu mid-session would carry the session on into a module it
// never identified: the choice is refused, and the port, its mark and the session stay.
void TestStartupAndPorts::selectionIsRefusedDuringASession() {
    QFETCH(bool, comTest);
    FormRig rig({2, 5});
    rig.storeSetting("Settings/COM-Port", "2");
    const QByteArray image = rig.writeImage("QVL-GEN-A.bin", 65536);
    Form1& form = rig.start();
    rig.serial.log.clear();
    bool updateButtonEnabled = true;
    rig.world.at(2500, [&] {
        updateButtonEnabled = form.toolbarButton(Form1::Update)->isEnabled();
        form.comItem(5)->trigger();
    });
    if (comTest)
        QTest::keyClick(form.Text_Filename, Qt::Key_T, Qt::ControlModifier);
    else
        form.updateCommand();
    QVERIFY(!updateButtonEnabled);
    QVERIFY(form.toolbarButton(Form1::Update)->isEnabled());
    QVERIFY(rig.prompts.messages.size() >= 1);
    QCOMPARE(rig.prompts.messages.first().text,
             QStringLiteral("Com5 cannot be selected while %1 runs on Com2.\n"
                            "Wait until it has ended, then select the port again.")
                 .arg(comTest ? "the communication test" : "an update"));
    QVERIFY(form.comItem(2)->isChecked());
    QVERIFY(!form.comItem(5)->isChecked());
    QCOMPARE(rig.serial.CommPort(), 2);
    QVERIFY(rig.serial.PortOpen());
    QCOMPARE(rig.serial.log, QStringList());
    if (!comTest)
        QCOMPARE(rig.module->completedImage, image);
}

void TestStartupAndPorts::exitStoresThePortAndEnds_data() {
    QTest::addColumn<int>("how"); // 0 Escape, 1 Shift+Escape, 2 Exit button
    QTest::addColumn<bool>("portSelected");
    QTest::newRow("Escape") << 0 << true;
    QTest::newRow("Shift+Escape") << 1 << true;
    QTest::newRow("Exit button") << 2 << true;
    QTest::newRow("Escape without a port") << 0 << false;
}

void TestStartupAndPorts::exitStoresThePortAndEnds() {
    QFETCH(int, how);
    QFETCH(bool, portSelected);
    FormRig rig({5});
    Form1& form = rig.start();
    if (portSelected)
        form.com_Click(5);
    form.engine().setFirmwarePath(rig.programFolder() + "/x.bin");
    if (how == 2)
        form.toolbarButton(Form1::Exit)->trigger();
    else
        QTest::keyClick(form.Text_Filename, Qt::Key_Escape,
                        how == 1 ? Qt::ShiftModifier : Qt::KeyboardModifiers());
    QVERIFY(!rig.serial.PortOpen());
    QCOMPARE(rig.storedPort(), portSelected ? QStringLiteral("5") : QStringLiteral("9"));
    QVERIFY(rig.processEnded >= 1);
    QVERIFY(!form.isVisible());
}

void TestStartupAndPorts::escapeDuringAnUpdateEndsTheProcess_data() {
    QTest::addColumn<QString>("how"); // Escape, or the signal the program was sent
    QTest::addColumn<bool>("successShown");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("message");
    QTest::newRow("Escape mid-transfer") << "Escape" << false << "interrupted"
                                         << "The utility was closed during the update on Com6.";
    QTest::newRow("Escape during the success display") << "Escape" << true << "success"
                                                       << "";
    QTest::newRow("SIGTERM mid-transfer") << "SIGTERM" << false << "interrupted"
                                          << "The utility was ended by SIGTERM during the update on Com6.";
    QTest::newRow("SIGHUP mid-transfer") << "SIGHUP" << false << "interrupted"
                                         << "The utility was ended by SIGHUP during the update on Com6.";
    QTest::newRow("SIGTERM during the success display") << "SIGTERM" << true << "success"
                                                        << "";
}

// Escape pressed (or a signal come) while the update waits for the module: the shut-down runs
// inside the wait and the process ends there. The record says how the session stood.
void TestStartupAndPorts::escapeDuringAnUpdateEndsTheProcess() {
    QFETCH(QString, how);
    QFETCH(bool, successShown);
    QFETCH(QString, result);
    QFETCH(QString, message);
    FormRig rig({6});
    rig.storeSetting("Settings/COM-Port", "6");
    rig.writeImage("QVL-GEN-A.bin", 2 * 65536);
    Form1& form = rig.start();
    bool imageOpenBefore = false;
    int endedAt = -1;
    auto moment = [&] {
        if (successShown)
            return form.Label_title->text().startsWith("Update Successful");
        return rig.module->announcements == 1 && rig.module->completedTransfers == 0;
    };
    rig.whenever(moment, [&] {
        imageOpenBefore = form.engine().imageOpen();
        if (how == "Escape")
            QTest::keyClick(form.Text_Filename, Qt::Key_Escape);
        else
            form.exitOnSignal(how);
        endedAt = rig.processEnded;
    });
    form.updateCommand();
    QCOMPARE(imageOpenBefore, !successShown); // the image is let go at the end mark
    QVERIFY(endedAt >= 1);
    QCOMPARE(rig.storedPort(), QStringLiteral("6"));
    QVERIFY(!rig.serial.PortOpen());
    QVERIFY(!form.engine().imageOpen());
    // The process ends inside the update; the record says so before it goes.
    QFile record(rig.recordFile());
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QJsonObject line = QJsonDocument::fromJson(record.readLine()).object();
    QCOMPARE(line["result"].toString(), result);
    QCOMPARE(line["port"].toString(), QStringLiteral("COM6"));
    if (message.isEmpty())
        QCOMPARE(line["message"].toString(), QString());
    else
        QVERIFY2(line["message"].toString().startsWith(message), qPrintable(line["message"].toString()));
}

void TestStartupAndPorts::failureAtASignalledExitIsNoBox_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<int>("stderrLines");
    QTest::newRow("Escape: a box") << "Escape" << 1 << 0;
    QTest::newRow("SIGTERM: standard error") << "SIGTERM" << 0 << 1;
    QTest::newRow("SIGHUP: standard error") << "SIGHUP" << 0 << 1;
}

// After a signal nobody may be there to answer a box, and an unanswered box would keep the
// process from ending: what goes wrong is said on standard error instead.
void TestStartupAndPorts::failureAtASignalledExitIsNoBox() {
    QFETCH(QString, how);
    QFETCH(int, boxes);
    QFETCH(int, stderrLines);
    FormRig rig({5});
    Form1& form = rig.start();
    form.com_Click(5);
    // A folder where the settings file should be: the port number cannot be stored.
    QVERIFY(QDir().mkpath(rig.settingsFile()));
    QTemporaryFile captured;
    QVERIFY(captured.open());
    std::fflush(stderr);
    const int savedStderr = ::dup(2);
    ::dup2(captured.handle(), 2);
    if (how == "Escape")
        QTest::keyClick(form.Text_Filename, Qt::Key_Escape);
    else
        form.exitOnSignal(how);
    std::fflush(stderr);
    ::dup2(savedStderr, 2);
    ::close(savedStderr);
    QFile written(captured.fileName()); // fd 2 moved the shared offset to the end
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QStringList said = QString::fromLocal8Bit(written.readAll()).split('\n', Qt::SkipEmptyParts);
    const QStringList stored = said.filter("The COM port number could not be stored in");
    QCOMPARE(rig.prompts.messages.size(), boxes);
    QCOMPARE(stored.size(), stderrLines);
    QVERIFY(rig.processEnded >= 1);
    QVERIFY(!rig.serial.PortOpen());
}

// A second signal while the shut-down's own box is open ends the process there and then,
// without the steps a second time.
void TestStartupAndPorts::signalDuringTheShutDownEndsAtOnce() {
    FormRig rig({5});
    Form1& form = rig.start();
    form.com_Click(5);
    QVERIFY(QDir().mkpath(rig.settingsFile()));
    int endedInsideTheBox = -1;
    rig.prompts.whileShown = [&](const Message&) {
        form.exitOnSignal("SIGTERM");
        endedInsideTheBox = rig.processEnded;
    };
    QTest::keyClick(form.Text_Filename, Qt::Key_Escape);
    QCOMPARE(endedInsideTheBox, 1);
    QCOMPARE(rig.prompts.messages.size(), 1);
}

QTEST_MAIN(TestStartupAndPorts)
#include "tst_startup_and_ports.moc"
