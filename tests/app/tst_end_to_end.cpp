// The utility's real serial control, clock and event loop against the module simulator
// over a pseudo-terminal; only the message boxes are answered by the test.

#include "AutoSizeLabel.h"
#include "FileAge.h"
#include "Form1.h"
#include "RealBench.h"
#include "RecordingPrompts.h"
#include "Ser2Net.h"
#include "SerialControl.h"
#include "SerialDeviceListing.h"
#include "UpdateEngine.h"
#include "WindowProcess.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

Q_DECLARE_METATYPE(Ser2Net::Kind)

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void update_data();
    void update();
    void communicationTest();
    void waitingUsesNoCpu();
    void adapterGetsComOneAndKeepsIt();
    void updateThroughSer2Net_data();
    void updateThroughSer2Net();
    void signalEndsTheRealWindow_data();
    void signalEndsTheRealWindow();
};

void TestEndToEnd::update_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("sectors");
    QTest::addColumn<int>("restarts");
    QTest::newRow("two sectors") << QStringList{"--flash-time", "0.05"} << 2 << 0;
    QTest::newRow("dropped request") << QStringList{"--flash-time", "0.05", "--drop-request", "1"} << 2 << 1;
    QTest::newRow("at the wire rate") << QStringList{"--wire-rate", "--flash-time", "0.5"} << 2 << 0;
}

void TestEndToEnd::update() {
    QFETCH(QStringList, simArgs);
    QFETCH(int, sectors);
    QFETCH(int, restarts);
    RealBench bench;
    const QByteArray image = bench.setUp(simArgs, sectors);
    QVERIFY(!image.isEmpty());
    QVERIFY(bench.form->MSComm1().PortOpen());
    QVERIFY(bench.prompts.messages.isEmpty());

    QString successShown;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (bench.form->Label_title->text().startsWith("Update Successful"))
            successShown = bench.form->Label_title->text();
    });
    watch.start();

    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds();
    QTest::keyClick(bench.form->Text_Filename, Qt::Key_F1);
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = wall.elapsed() / 1000.0;
    qInfo("update of %d sector(s): %.2f s wall, %.3f s CPU (%.2f %%)", sectors, seconds, cpu,
          100 * cpu / seconds);

    QVERIFY2(bench.prompts.messages.isEmpty(), qPrintable(bench.prompts.texts().join(" | ")));
    QCOMPARE(successShown, QStringLiteral("Update Successful / Update erfolgreich"));
    QCOMPARE(bench.form->Label_title->text(), QStringLiteral("Ready"));
    QCOMPARE(bench.sim.events().filter(QRegularExpression("^announce ")).size(), 1 + restarts);
    QFile received(bench.received());
    QVERIFY(received.open(QIODevice::ReadOnly));
    QVERIFY(received.readAll() == image);
    QCOMPARE(bench.form->engine().state().ErrorCount, qint16(restarts));

    // The record of updates holds this session, with the image's fingerprint.
    QFile record(bench.dir.path() + "/updates.jsonl");
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = record.readAll().split('\n');
    QCOMPARE(lines.size(), 2); // one line and its end
    const QJsonObject line = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(line["frontEnd"].toString(), QStringLiteral("window"));
    QCOMPARE(line["port"].toString(), QStringLiteral("COM1"));
    QCOMPARE(line["device"].toString(), bench.device);
    QCOMPARE(line["result"].toString(), QStringLiteral("success"));
    QCOMPARE(line["restarts"].toInt(), restarts);
    QCOMPARE(line["sha256"].toString(),
             QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()));
}

// A USB adapter seen for the first time gets the first free COM number and a [Ports] line of
// its own, is named in the menu, updates a module, and has the same number at the next start.
void TestEndToEnd::adapterGetsComOneAndKeepsIt() {
    QTemporaryDir dir;
    const QString link = dir.path() + "/by-id/usb-Kestrune_Bench_Adapter_A10KZ3X1-if00-port0";
    QVERIFY(QDir().mkpath(dir.path() + "/by-id"));
    SimulatorProcess sim;
    const QString device =
        sim.start({"--quiet", "--flash-time", "0.02", "--link", link, "--out", dir.path() + "/received.bin"});
    QVERIFY(!device.isEmpty());
    QFile image(dir.path() + "/QVL-GEN-A.bin");
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.write(QByteArray(65536, '\x3C'));
    image.close();
    QVERIFY(makeOld(image.fileName()));
    const QString settingsFile = dir.path() + "/config/Kestrune_Update_Utility.ini";
    SystemSerialDevices present(dir.path() + "/by-id", [] { return QList<PresentDevice>(); });

    for (int run = 1; run <= 2; ++run) {
        RealWindow window;
        const RecordingPrompts& prompts = window.prompts;
        Form1& form = window.open(settingsFile, dir.path(), &present);
        QVERIFY2(prompts.messages.isEmpty(), qPrintable(prompts.texts().join(" | ")));
        QVERIFY(form.comItem(1)->isVisible());
        QVERIFY(form.comItem(1)->toolTip().endsWith(link));
        QVERIFY(form.Comport->toolTipsVisible());
        if (run == 1) {
            QVERIFY(!form.comItem(1)->isChecked()); // nothing stored yet
            form.comItem(1)->trigger();
            form.updateCommand();
            QVERIFY2(prompts.messages.isEmpty(), qPrintable(prompts.texts().join(" | ")));
            QFile received(dir.path() + "/received.bin");
            QVERIFY(received.open(QIODevice::ReadOnly));
            QCOMPARE(received.readAll(), QByteArray(65536, '\x3C'));
        } else {
            QVERIFY(form.comItem(1)->isChecked()); // the stored number, on the same adapter
        }
        form.exitCommand();
        QFile file(settingsFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("[Ports]\nCOM1=" + link.toUtf8() + "\n"), text.constData());
        QVERIFY2(text.contains("COM-Port=1\n"), text.constData());
        QCOMPARE(text.count("COM1="), 1);
    }
}

void TestEndToEnd::updateThroughSer2Net_data() {
    QTest::addColumn<Ser2Net::Kind>("kind");
    QTest::newRow("RFC 2217, a sector of 0xFF") << Ser2Net::Kind::Rfc2217;
}

// The window over a [Ports] line naming a real ser2net, the module simulator at the wire rate
// behind it: every 0xFF of the padding arrives once (doubled on the way, undone by the server).
void TestEndToEnd::updateThroughSer2Net() {
    QFETCH(Ser2Net::Kind, kind);
    if (!Ser2Net::unavailable().isEmpty())
        QSKIP(qPrintable(Ser2Net::unavailable()));
    QTemporaryDir dir;
    SimulatorProcess sim;
    const QString received = dir.path() + "/received.bin";
    QVERIFY(!sim.start({"--wire-rate", "--quiet", "--flash-time", "0.05", "--out", received, "--link",
                        dir.path() + "/line"})
                 .isEmpty());
    Ser2Net server;
    const QString error = server.start({{dir.path() + "/line", kind}});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString settingsFile = dir.path() + "/Kestrune_Update_Utility.ini";
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue("Ports/COM5", server.address(0));
        settings.setValue("Settings/COM-Port", "5");
    }
    const QByteArray image(65536, '\xff');
    QFile file(dir.path() + "/QVL-GEN-NET.bin");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image);
    file.close();
    QVERIFY(makeOld(file.fileName()));

    RealWindow window;
    Form1& form = window.open(settingsFile, dir.path());
    QVERIFY2(window.prompts.messages.isEmpty(), qPrintable(window.prompts.texts().join(" | ")));
    QVERIFY(form.comItem(5)->isVisible());
    QVERIFY(form.comItem(5)->isChecked());
    QVERIFY(form.MSComm1().PortOpen());
    const QString tip = form.comItem(5)->toolTip();
    QVERIFY2(tip.contains("127.0.0.1") && tip.contains(QString::number(server.port(0))), qPrintable(tip));
    form.updateCommand();
    QVERIFY2(window.prompts.messages.isEmpty(), qPrintable(window.prompts.texts().join(" | ")));
    QFile arrived(received);
    QVERIFY(arrived.open(QIODevice::ReadOnly));
    QVERIFY(arrived.readAll() == image);
    QFile record(dir.path() + "/updates.jsonl");
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QJsonObject line = QJsonDocument::fromJson(record.readLine()).object();
    QCOMPARE(line["result"].toString(), QStringLiteral("success"));
    QCOMPARE(line["device"].toString(), server.address(0));
}

void TestEndToEnd::communicationTest() {
    RealBench bench;
    QVERIFY(!bench.setUp({"--comtest"}, 1).isEmpty());
    QTest::keyClick(bench.form->Text_Filename, Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(bench.prompts.texts(), QStringList{"Serial Communication O.K."});
    QTRY_VERIFY(bench.sim.events().contains("comtest ok"));
}

// The waits sleep in the event loop instead of spinning.
void TestEndToEnd::waitingUsesNoCpu() {
    RealBench bench;
    QVERIFY(!bench.setUp({}, 1).isEmpty());
    const double before = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    bench.form->engine().warte(3);
    const double share = (cpuSeconds() - before) / (wall.elapsed() / 1000.0);
    qInfo("warte(3): %.2f %% of a core", 100 * share);
    QVERIFY(wall.elapsed() >= 3000);
    QVERIFY2(share < 0.03, qPrintable(QString::number(share)));
}

void TestEndToEnd::signalEndsTheRealWindow_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("name");
    QTest::newRow("SIGTERM") << int(SIGTERM) << "SIGTERM";
    QTest::newRow("SIGHUP") << int(SIGHUP) << "SIGHUP";
}

// The program itself, its update started by F1 on its screen, is sent a signal while the module
// flashes the sector: the update is recorded as on a close mid-update, the port number is
// stored, and the process ends within 5 s.
void TestEndToEnd::signalEndsTheRealWindow() {
    QFETCH(int, signalNumber);
    QFETCH(QString, name);
    QTemporaryDir dir;
    SimulatorProcess sim;
    const QString device = sim.start({"--flash-time", "5", "--out", dir.path() + "/received.bin"});
    QVERIFY(!device.isEmpty());
    WindowProcess window(dir.path());
    {
        QVERIFY(QDir().mkpath(QFileInfo(window.settingsFile()).path()));
        QFile settings(window.settingsFile());
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("; the bench's adapter\n[Ports]\nCOM1=" + device.toUtf8() +
                       "\n\n[Settings]\nCOM-Port=1\n");
    }
    QFile image(dir.path() + "/QVL-GEN-SIG.bin");
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.write(QByteArray(65536, '\x5A'));
    image.close();
    QVERIFY(makeOld(image.fileName()));

    const QString failure = window.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(window.press(0xFFBE)); // F1
    QTRY_VERIFY_WITH_TIMEOUT(sim.events().contains("sector 0 received"), 10000);

    QElapsedTimer ending;
    ending.start();
    QCOMPARE(::kill(pid_t(window.process.processId()), signalNumber), 0);
    QVERIFY2(window.process.waitForFinished(5000), "the window did not end within 5 s");
    qInfo("%s: ended after %lld ms", qPrintable(name), ending.elapsed());
    QCOMPARE(window.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(window.process.exitCode(), 0);
    QVERIFY(!sim.events().contains("end")); // killed before the end mark

    QFile record(window.recordFile());
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = record.readAll().split('\n');
    QCOMPARE(lines.size(), 2); // one line and its end
    const QJsonObject line = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(line["result"].toString(), QStringLiteral("interrupted"));
    QCOMPARE(line["port"].toString(), QStringLiteral("COM1"));
    QCOMPARE(line["device"].toString(), device);
    const QString message = line["message"].toString();
    QVERIFY2(
        message.startsWith(QStringLiteral("The utility was ended by %1 during the update on Com1").arg(name)),
        qPrintable(message));
    QVERIFY2(message.endsWith("The module may not have been updated."), qPrintable(message));

    QFile settings(window.settingsFile());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray text = settings.readAll();
    QVERIFY2(text.contains("; the bench's adapter\n[Ports]\nCOM1=" + device.toUtf8() + "\n"),
             text.constData());
    QVERIFY2(text.contains("COM-Port=1\n"), text.constData());
}

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
