// Tests of the receive handling, warte and the elapsed time.
#include "EngineRig.h"

#include <QtTest>

class TestReceiveAndWait : public QObject {
    Q_OBJECT
private slots:
    void receiveAppendsWholeChunks_data();
    void receiveAppendsWholeChunks();
    void errorEventsAreIgnored();
    void warteNeverReturnsEarly_data();
    void warteNeverReturnsEarly();
    void elapsedTimeCarries_data();
    void elapsedTimeCarries();
    void indicatorStepsInTens();
};

namespace {
constexpr int Kept = 64 * 1024;

// `total` bytes of a stream in chunks of `chunk`, ending with `tail`; the byte at each
// position from its offset in a repeating pattern, so that a wrong cut shows.
QByteArrayList stream(qsizetype total, qsizetype chunk, const QByteArray& tail) {
    QByteArray all(total - tail.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < all.size(); ++i)
        all[i] = char('a' + i % 23);
    all += tail;
    QByteArrayList chunks;
    for (qsizetype at = 0; at < all.size(); at += chunk)
        chunks.append(all.mid(at, chunk));
    return chunks;
}
} // namespace

void TestReceiveAndWait::receiveAppendsWholeChunks_data() {
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArray>("expected"); // the whole buffer; empty: only the last 64 KiB, cut
    QTest::newRow("two bytes, then two more") << QByteArrayList{"O", "K", "EN"} << QByteArray("OKEN");
    const QByteArrayList exactly = stream(Kept, 4096, "OK");
    QTest::newRow("64 KiB kept whole") << exactly << exactly.join();
    QTest::newRow("one byte more") << stream(Kept + 1, 1000, "OK") << QByteArray();
    QTest::newRow("8 MiB streamed in 4 KiB pieces") << stream(8 << 20, 4096, "OK") << QByteArray();
    QTest::newRow("8 MiB at once") << stream(8 << 20, 8 << 20, "XOK") << QByteArray();
    // What would lead the kept bytes is an end mark; it did not lead what arrived.
    QTest::newRow("end mark at the cut")
        << stream(Kept + 100, Kept + 100, "EN" + QByteArray(Kept - 2, 'z')) << QByteArray();
}

// Received bytes are appended as they come; only the latest 64 KiB are kept, so that a line
// that streams never fills the memory, and what was cut never passes for a start.
void TestReceiveAndWait::receiveAppendsWholeChunks() {
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArray, expected);
    EngineRig rig;
    rig.serial.deliver(chunks.first().left(1)); // below the threshold of two: no event yet
    QVERIFY(rig.engine.state().RxBuffer.isEmpty());
    chunks.first().remove(0, 1);
    for (const QByteArray& chunk : chunks) {
        rig.serial.deliver(chunk);
        QVERIFY(rig.engine.state().RxBuffer.size() <= Kept);
    }
    const QByteArray& buffer = rig.engine.state().RxBuffer;
    if (!expected.isEmpty()) {
        QCOMPARE(buffer, expected);
        return;
    }
    const QByteArray all = chunks.join();
    QCOMPARE(buffer.size(), Kept);
    QCOMPARE(buffer.at(0), '\0');
    QCOMPARE(buffer.mid(1), all.right(Kept - 1));
    QVERIFY(!buffer.startsWith("EN"));
}

void TestReceiveAndWait::errorEventsAreIgnored() {
    EngineRig rig;
    rig.serial.deliver("OK");
    rig.serial.pending = "ZZ";
    rig.serial.raiseError(SerialControl::comEventOverrun);
    rig.serial.raiseError(SerialControl::comEventRxOver);
    QCOMPARE(rig.engine.state().RxBuffer, QByteArray("OK"));
}

void TestReceiveAndWait::warteNeverReturnsEarly_data() {
    QTest::addColumn<double>("seconds");
    QTest::newRow("0.2") << 0.2;
    QTest::newRow("1") << 1.0;
    QTest::newRow("2") << 2.0;
    QTest::newRow("0") << 0.0;
    QTest::newRow("negative") << -1.0;
}

void TestReceiveAndWait::warteNeverReturnsEarly() {
    QFETCH(double, seconds);
    EngineRig rig;
    rig.world.after(150, [&] { rig.serial.deliver("UP"); });
    const qint64 start = rig.world.now();
    const qint64 passesBefore = rig.world.passes();
    rig.engine.warte(seconds);
    const qint64 waited = rig.world.now() - start;
    // Never early, and never past the deadline: each pass sleeps to the deadline or the next event.
    QVERIFY(waited >= qint64(seconds * 1000));
    QVERIFY(waited <= qMax<qint64>(0, qint64(seconds * 1000)));
    // One pass for the module's answer and one to the deadline; no 10 ms wake-ups.
    QVERIFY(rig.world.passes() - passesBefore <= 3);
    if (seconds >= 0.2)
        QCOMPARE(rig.engine.state().RxBuffer, QByteArray("UP"));
}

void TestReceiveAndWait::elapsedTimeCarries_data() {
    QTest::addColumn<quint32>("lastTick");
    QTest::addColumn<int>("ms");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("hours");
    QTest::addColumn<quint32>("tickNow");
    QTest::addColumn<int>("expectMs");
    QTest::addColumn<QString>("text");

    QTest::newRow("950 + 120") << 1000u << 950 << 0 << 0 << 0 << 1120u << 70 << "0:00:01";
    QTest::newRow("0:59:59 + 1 s") << 5000u << 0 << 59 << 59 << 0 << 6000u << 0 << "1:00:00";
    QTest::newRow("minute carry") << 0u << 500 << 59 << 1 << 0 << 600u << 100 << "0:02:00";
    QTest::newRow("tick count wraps") << 0xFFFFFFC0u << 0 << 5 << 0 << 0 << 0x00000024u << 100 << "0:00:05";
    QTest::newRow("tick count crosses 2^31")
        << 0x7FFFFFF0u << 990 << 0 << 0 << 0 << 0x80000010u << 22 << "0:00:01";
    QTest::newRow("long hours") << 0u << 0 << 59 << 59 << 11 << 1000u << 0 << "12:00:00";
}

void TestReceiveAndWait::elapsedTimeCarries() {
    QFETCH(quint32, lastTick);
    QFETCH(int, ms);
    QFETCH(int, seconds);
    QFETCH(int, minutes);
    QFETCH(int, hours);
    QFETCH(quint32, tickNow);
    QFETCH(int, expectMs);
    QFETCH(QString, text);
    SessionState s;
    s.LastTick = lastTick;
    s.ElapsedMs = ms;
    s.ElapsedSeconds = qint16(seconds);
    s.ElapsedMinutes = quint8(minutes);
    s.ElapsedHours = quint8(hours);
    s.advanceElapsed(tickNow);
    QCOMPARE(s.ElapsedMs, expectMs);
    QCOMPARE(s.LastTick, tickNow);
    QCOMPARE(s.elapsedText(), text);
}

void TestReceiveAndWait::indicatorStepsInTens() {
    EngineRig rig;
    rig.world.setTickBase(0xFFFFF000u); // the tick count wraps during this run
    rig.engine.state().LastTick = rig.world.ticks();
    rig.timer.setEnabled(true);
    while (rig.world.now() < 1250)
        rig.world.runOnce(10);
    QCOMPARE(rig.display.steps, (QList<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 0, 10}));
    QCOMPARE(rig.display.elapsed, QStringLiteral("0:00:01"));
    QVERIFY(rig.engine.state().ElapsedMs >= 200 && rig.engine.state().ElapsedMs < 300);
}

QTEST_GUILESS_MAIN(TestReceiveAndWait)
#include "tst_receive_and_wait.moc"
