// Faults on a real line: the module simulator over a pseudo-terminal misbehaves, or goes away.

#include "AutoSizeLabel.h"
#include "RealBench.h"
#include "SerialControl.h"
#include "UpdateEngine.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSerialPort>
#include <QtTest>

class TestFaultsOnTheLine : public QObject {
    Q_OBJECT
private slots:
    void misbehavingModule_data();
    void misbehavingModule();
    void deviceDisappearsDuringTheTransfer();
    void allPortsBusyOrAbsent();
};

void TestFaultsOnTheLine::misbehavingModule_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("restarts");
    QTest::newRow("noise before and between answers") << QStringList{"--noise"} << 0;
    QTest::newRow("one byte at a time") << QStringList{"--split"} << 0;
    QTest::newRow("flood during the end wait") << QStringList{"--flood-end"} << 1;
}

void TestFaultsOnTheLine::misbehavingModule() {
    QFETCH(QStringList, simArgs);
    QFETCH(int, restarts);
    RealBench bench;
    const QByteArray image = bench.setUp(simArgs + QStringList{"--flash-time", "0.02"}, 1);
    QVERIFY(!image.isEmpty());
    QTest::keyClick(bench.form->Text_Filename, Qt::Key_F1);
    QVERIFY2(bench.prompts.messages.isEmpty(), qPrintable(bench.prompts.texts().join(" | ")));
    QCOMPARE(bench.form->engine().state().ErrorCount, qint16(restarts));
    QFile received(bench.received());
    QVERIFY(received.open(QIODevice::ReadOnly));
    QVERIFY(received.readAll() == image);
    QCOMPARE(bench.form->Label_title->text(), QStringLiteral("Ready"));
    QVERIFY(bench.form->toolbarButton(Form1::Update)->isEnabled());
}

// The adapter is pulled after the first sector: the port closes at the first error (no
// storm of read errors), the session ends at once, and the operator is told the line was lost.
void TestFaultsOnTheLine::deviceDisappearsDuringTheTransfer() {
    RealBench bench;
    QVERIFY(!bench.setUp({"--hangup-after-sector", "0", "--flash-time", "0.02"}, 2).isEmpty());
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::keyClick(bench.form->Text_Filename, Qt::Key_F1);
    const double share = (cpuSeconds() - cpuBefore) / (wall.elapsed() / 1000.0);
    qInfo("session after the hang-up: %.1f s, %.2f %% CPU", wall.elapsed() / 1000.0, 100 * share);
    QCOMPARE(bench.prompts.messages.size(), 1);
    QVERIFY(bench.prompts.messages.first().text.startsWith(
        QStringLiteral("The line to Com1 (%1) was lost").arg(bench.device)));
    QVERIFY(wall.elapsed() < 8000); // no restarts against the closed port
    QCOMPARE(bench.form->engine().state().ErrorCount, qint16(0));
    QVERIFY(!bench.form->MSComm1().PortOpen());
    QVERIFY(!bench.form->comItem(1)->isChecked());
    QCOMPARE(bench.form->Label_title->text(), QStringLiteral("Ready"));
    QVERIFY(bench.form->toolbarButton(Form1::Update)->isEnabled());
    QVERIFY(!bench.form->engine().imageOpen());
    QVERIFY(share < 0.05);

    bench.prompts.messages.clear();
    QTest::keyClick(bench.form->Text_Filename, Qt::Key_F1);
    QCOMPARE(bench.prompts.texts(), QStringList{"No Com Port selected!"});
}

// COM1 to COM9 mapped to missing devices and to a line another program holds.
void TestFaultsOnTheLine::allPortsBusyOrAbsent() {
    QTemporaryDir dir;
    SimulatorProcess sim;
    const QString device = sim.start({});
    QVERIFY(!device.isEmpty());
    QSerialPort holder(device);
    QVERIFY(holder.open(QIODevice::ReadWrite));

    const QString settingsFile = dir.path() + "/Kestrune_Update_Utility.ini";
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        for (int port = 1; port <= 9; ++port)
            settings.setValue(QStringLiteral("Ports/COM%1").arg(port),
                              port % 3 == 0 ? device : dir.path() + QStringLiteral("/ttyGONE%1").arg(port));
        settings.setValue("Settings/COM-Port", "3");
    }
    RealWindow window;
    RecordingPrompts& prompts = window.prompts;
    Form1& form = window.open(settingsFile, dir.path());
    QCOMPARE(prompts.texts(), QStringList{"No Com Ports available!"});
    const QString detail = prompts.messages.first().detail;
    // The details name the other program that holds the line (the simulator keeps its slave
    // side open); this process's own hold is no other program's.
    QCOMPARE(detail.count("it is in use by module-sim (PID "), 3);
    QCOMPARE(detail.count("does not exist"), 6);
    QVERIFY(detail.contains(device));
    QVERIFY(!form.MSComm1().PortOpen());
    QTest::keyClick(form.Text_Filename, Qt::Key_F1);
    QCOMPARE(prompts.texts().last(), QStringLiteral("No Com Port selected!"));
}

QTEST_MAIN(TestFaultsOnTheLine)
#include "tst_faults_line.moc"
