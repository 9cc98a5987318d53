// The utility's real serial control, clock and event loop against the module simulator
// over a pseudo-terminal; only the message boxes are answered by the test.

#include "AutoSizeLabel.h"
#include "Form1.h"
#include "RealBench.h"
#include "RecordingPrompts.h"
#include "SerialControl.h"
#include "UpdateEngine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/resource.h>

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void update_data();
    void update();
    void communicationTest();
    void waitingUsesNoCpu();
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

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
