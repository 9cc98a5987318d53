// Whole update sessions against a module with random faults, on the simulated clock.
//
//   KUU_SOAK_SESSIONS=<n>  number of sessions (default below)
//   KUU_SOAK_SEED=<n>      seed of the first session; session k uses seed + k
//   KUU_SOAK_TRACE=1       print what happened in the last session, step by step
//   KUU_SOAK_LEFTOVERS=0   bytes left unread at the end of a session are dropped (kept by default,
//                          as on a real line)
//
// A failing session prints the seed and session count that replay it on a new rig.
#include "FakeSerial.h"
#include "FaultScript.h"
#include "FileAge.h"
#include "LineSettings.h"
#include "SimWorld.h"
#include "SoakModule.h"
#include "UpdateEngine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <memory>

namespace {

constexpr int DefaultSessions = 50000;
constexpr int SessionsPerRow = 2500; // each row runs under the test function time limit of its own
constexpr quint32 DefaultSeed = 1;
constexpr int SectorSize = 65536;

// The engine on the simulated clock, its line ending at the soak module.
struct SoakRig {
    // The images are in `programFolder`: the session watches them from its start, as the window does.
    SoakRig(quint64 tickBase, const QString& programFolder)
        : programFolder(programFolder) {
        world.setTickBase(tickBase);
        ModuleLine::apply(serial);
        serial.setPortOpen(true);
    }

    QString programFolder;
    SimWorld world;
    SimTimer timer{world};
    FakeSerial serial;
    TimedDisplay display;
    RecordingPrompts prompts;
    SoakModule module{world, serial, display, prompts};
    QString imagePath;
    QStringList selections;
    UpdateEngine engine{EngineSeams{serial, world, world, timer, display, prompts,
                                    [this](const QString& pattern) {
                                        selections << pattern;
                                        return imagePath;
                                    },
                                    programFolder}};
};

struct Outcome {
    bool success = false;
    bool box = false;
    bool lineLost = false;
    int restarts = 0;
    int probes = 0;
    int nearLimitAccepted = 0;
    int nearLimitMissed = 0;
    qint64 simulatedMs = 0;
    QStringList problems;
    QStringList trace;
};

struct Totals {
    qint64 sessions = 0;
    qint64 successes = 0;
    qint64 restarts = 0;
    qint64 boxes = 0;
    qint64 lineLost = 0;
    qint64 newRigs = 0;
    qint64 probes = 0;
    qint64 nearLimitAccepted = 0;
    qint64 nearLimitMissed = 0;
    qint64 failed = 0;
    qint64 simulatedMs = 0;
    qint64 realMs = 0;
};

// For a session that never ends, which the simulated clock stops.
QByteArray replayLine;
const SoakModule* runningModule = nullptr;
QtMessageHandler previousHandler = nullptr;

void reportRunaway(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg && !replayLine.isEmpty()) {
        std::fprintf(stderr, "soak: the session below did not end in time\n%s\n", replayLine.constData());
        if (runningModule)
            std::fprintf(stderr, "%s\n",
                         qPrintable((runningModule->violations + runningModule->trace).join('\n')));
    }
    previousHandler(type, context, text);
}

quint32 envNumber(const char* name, quint32 fallback) {
    bool ok = false;
    const quint32 value = qEnvironmentVariable(name).toUInt(&ok);
    return ok ? value : fallback;
}

// Seconds shown as h:mm:ss.
qint64 shownSeconds(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return -1;
    return parts[0].toLongLong() * 3600 + parts[1].toLongLong() * 60 + parts[2].toLongLong();
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void repliesAroundTheTimeOut_data();
    void repliesAroundTheTimeOut();
    void soak_data();
    void soak();

private:
    Outcome runSession(SoakRig& rig, const FaultScript& script, bool tracing);
    QStringList traceOf(quint32 firstSeed, int count);

    QTemporaryDir folder;
    QStringList imagePaths;
    QList<QByteArray> paddedImages;
    Totals totals;
    int printedFailures = 0;
};

void TestSoak::initTestCase() {
    QVERIFY(folder.isValid());
    for (qint64 length : soakImageSizes()) {
        // Each image differs from the others and shows any shift or gap of its bytes.
        QByteArray data(int(length), Qt::Uninitialized);
        for (int i = 0; i < data.size(); ++i)
            data[i] = char((i * 7 + i / 65536 * 3 + int(length)) % 251);
        const QString path = folder.path() + QStringLiteral("/QVL-GEN-%1.bin").arg(length);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(data), qint64(data.size()));
        file.close();
        QVERIFY(makeOld(path));
        imagePaths << path;
        const qint64 padded = FirmwareImage::sectorsFor(length) * SectorSize;
        paddedImages << data + QByteArray(int(padded - length), char(0xFF));
    }
    previousHandler = qInstallMessageHandler(reportRunaway);
}

void TestSoak::cleanupTestCase() {
    qInstallMessageHandler(previousHandler);
    if (totals.sessions == 0)
        return;
    std::printf(
        "soak: %lld sessions (%lld on a new rig): %lld successful, %lld final failures; "
        "%lld restarts, %lld lines lost, %lld probes; replies at 3.99-4.02 s: %lld taken, %lld too late; "
        "%.1f simulated hours in %.1f s",
        totals.sessions, totals.newRigs, totals.successes, totals.boxes, totals.restarts, totals.lineLost,
        totals.probes, totals.nearLimitAccepted, totals.nearLimitMissed,
        double(totals.simulatedMs) / 3600000.0, double(totals.realMs) / 1000.0);
    std::printf("%s\n",
                totals.failed ? qPrintable(QStringLiteral("; %1 sessions FAILED").arg(totals.failed)) : "");
    std::fflush(stdout);
}

Outcome TestSoak::runSession(SoakRig& rig, const FaultScript& script, bool tracing) {
    // The recordings of earlier sessions on this rig are of no further use.
    rig.display.states.clear();
    rig.display.statusTexts.clear();
    rig.display.percents.clear();
    rig.display.steps.clear();
    rig.display.beeps = 0;
    rig.prompts.messages.clear();
    rig.serial.writes.clear();
    rig.serial.wire.clear();
    rig.selections.clear();
    rig.imagePath = imagePaths[script.image];

    SoakModule& m = rig.module;
    m.tracing = tracing;
    m.keepLeftovers = qEnvironmentVariable("KUU_SOAK_LEFTOVERS") != QLatin1String("0");
    m.begin(script, paddedImages[script.image]);
    const qint64 start = rig.world.now();
    rig.world.limitMs = start + script.budgetMs;
    runningModule = &m;
    rig.engine.StartUpdate();
    runningModule = nullptr;

    Outcome out;
    out.simulatedMs = rig.world.now() - start;
    out.lineLost = m.lineLost;
    out.restarts = qMax(0, m.hostAttempts - 1);
    out.probes = m.probes;
    out.nearLimitAccepted = m.nearLimitAccepted;
    out.nearLimitMissed = m.nearLimitMissed;
    out.trace = m.trace;
    QStringList& problems = out.problems;
    problems << m.violations;
    auto expect = [&problems](bool ok, const QString& what) {
        if (!ok)
            problems << what;
    };

    const int successes = int(rig.display.states.count(DisplayState::Success));
    const int boxes = int(rig.prompts.messages.size());
    out.success = successes == 1 && boxes == 0;
    // A lost line ends the session at once with a box of its own; no restart can help it.
    const bool lostLineBox = boxes == 1 && rig.prompts.messages.first().text.startsWith(
                                               QStringLiteral("The line to Com1 was lost"));
    out.box = successes == 0 && boxes == 1 &&
              (rig.prompts.messages.first().text == SoakModule::FinalBox || lostLineBox);
    expect(out.success || out.box,
           QStringLiteral("the session ended with %1 success states and %2 boxes").arg(successes).arg(boxes));
    expect(rig.selections == QStringList{UpdateEngine::ImagePattern},
           QStringLiteral("image chosen %1 times").arg(rig.selections.size()));
    expect(m.identified, QStringLiteral("the transfer never began"));

    if (successes > 0) {
        expect(m.endAccepted, QStringLiteral("success without an end mark"));
        expect(m.receivedBytes == qint64(script.sectors) * SectorSize && m.intact,
               QStringLiteral("success, but the module got %1 bytes of the %2 of the padded image%3")
                   .arg(m.receivedBytes)
                   .arg(qint64(script.sectors) * SectorSize)
                   .arg(m.intact ? QString() : QStringLiteral(", not all of them right")));
        expect(m.timeOuts <= 3, QStringLiteral("success after %1 time-outs").arg(m.timeOuts));
        expect(rig.display.beeps == 1, QStringLiteral("%1 beeps after success").arg(rig.display.beeps));
    } else if (lostLineBox) {
        expect(m.lineLost, QStringLiteral("a lost-line box on a line that was not lost"));
        expect(rig.world.now() <= m.lineLostAt + 10,
               QStringLiteral("the session went on for %1 ms after its line was lost")
                   .arg(rig.world.now() - m.lineLostAt));
    } else {
        expect(m.timeOuts == 4, QStringLiteral("no success, and %1 time-outs").arg(m.timeOuts));
        expect(rig.display.beeps == 0, QStringLiteral("%1 beeps without success").arg(rig.display.beeps));
    }
    expect(boxes == 0 || lostLineBox || m.timeOuts == 4,
           QStringLiteral("the final box after %1 time-outs").arg(m.timeOuts));
    expect(rig.engine.state().ErrorCount == m.timeOuts,
           QStringLiteral("the engine counted %1 time-outs, there were %2")
               .arg(rig.engine.state().ErrorCount)
               .arg(m.timeOuts));
    // A line lost in the pause after a time-out ends the session before the next transfer.
    const bool lostBeforeRestart = lostLineBox && m.hostAttempts == m.timeOuts;
    expect(lostBeforeRestart || m.hostAttempts == qMin(m.timeOuts, 3) + 1,
           QStringLiteral("%1 transfers for %2 time-outs").arg(m.hostAttempts).arg(m.timeOuts));
    expect(m.lineLost || m.announcements == m.hostAttempts,
           QStringLiteral("%1 announcements for %2 transfers").arg(m.announcements).arg(m.hostAttempts));

    // Back at rest.
    expect(rig.display.state == DisplayState::Ready, QStringLiteral("the display does not show ready"));
    expect(!rig.display.busy, QStringLiteral("the busy pointer is still on"));
    expect(!rig.timer.isEnabled(), QStringLiteral("the timer still runs"));
    expect(!rig.engine.imageOpen(), QStringLiteral("the image file is still open"));
    expect(
        rig.display.progressValue == 0 && rig.display.percent == QStringLiteral("0%"),
        QStringLiteral("progress left at %1, '%2'").arg(rig.display.progressValue).arg(rig.display.percent));
    expect(rig.display.activityColour == Colours::Green,
           QStringLiteral("the activity indicator is not green"));

    // The elapsed time of the last transfer, from its start to the end mark or the box, as the
    // 100 ms timer saw it: never more, and at most a tick less.
    const qint64 endedAt = successes > 0 ? m.endAcceptedAt : m.boxAt;
    if (endedAt >= 0 && m.attemptBegunAt >= 0) {
        const qint64 took = endedAt - m.attemptBegunAt;
        const qint64 shown = shownSeconds(rig.display.elapsed);
        expect(shown >= 0 && shown * 1000 <= took && took < shown * 1000 + 1100,
               QStringLiteral("elapsed time shown as %1 for a transfer of %2 ms")
                   .arg(rig.display.elapsed)
                   .arg(took));
    }
    return out;
}

// Replays sessions on a new rig and returns the step-by-step account of the last one.
QStringList TestSoak::traceOf(quint32 firstSeed, int count) {
    std::unique_ptr<SoakRig> rig;
    Outcome out;
    for (int k = 0; k < count; ++k) {
        const FaultScript script = FaultScript::make(firstSeed + quint32(k));
        if (!rig)
            rig = std::make_unique<SoakRig>(script.tickBase, folder.path());
        out = runSession(*rig, script, k == count - 1);
    }
    return out.trace;
}

// Replies just inside and just outside the 4 s a reply may take, split the way the line may
// split them: the host must accept the first and restart on the second.
void TestSoak::repliesAroundTheTimeOut_data() {
    QTest::addColumn<int>("wait"); // 0: the request, 1: the end mark (one sector)
    QTest::addColumn<QList<int>>("times");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("timeOuts");

    using Times = QList<int>;
    using Pieces = QList<QByteArray>;
    QTest::newRow("request at 3.999 s") << 0 << Times{3999} << Pieces{"OK"} << 0;
    QTest::newRow("request at 4.011 s") << 0 << Times{4011} << Pieces{"OK"} << 1;
    QTest::newRow("request, its second byte at 3.999 s") << 0 << Times{100, 3999} << Pieces{"O", "K"} << 0;
    QTest::newRow("request, its second byte at 4.011 s") << 0 << Times{100, 4011} << Pieces{"O", "K"} << 1;
    QTest::newRow("noise, then the request at 3.999 s") << 0 << Times{50, 3999} << Pieces{"#~", "OK"} << 0;
    QTest::newRow("end mark at 3.999 s") << 1 << Times{3999} << Pieces{"EN"} << 0;
    QTest::newRow("end mark at 4.011 s") << 1 << Times{4011} << Pieces{"EN"} << 1;
    QTest::newRow("end mark, its second piece at 3.999 s")
        << 1 << Times{1000, 3999} << Pieces{"E", "N\r\n"} << 0;
    QTest::newRow("end mark after noise, every time") << 1 << Times{10, 20} << Pieces{"#", "EN"} << 4;
    QTest::newRow("no request, every time") << 0 << Times{} << Pieces{} << 4;
}

void TestSoak::repliesAroundTheTimeOut() {
    QFETCH(int, wait);
    QFETCH(QList<int>, times);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, timeOuts);

    FaultScript script = FaultScript::plain(5); // one sector
    QCOMPARE(script.sectors, 1);
    Answer odd;
    odd.kind = "test";
    for (int i = 0; i < times.size(); ++i)
        odd.pieces << qMakePair(times[i], pieces[i]);
    // The odd reply in the first attempt; in every attempt when no attempt should succeed.
    for (int attempt = 0; attempt < (timeOuts == 4 ? 4 : 1); ++attempt)
        script.waits[attempt][wait] = odd;

    SoakRig rig(0, folder.path());
    const Outcome out = runSession(rig, script, true);
    QVERIFY2(out.problems.isEmpty(), qPrintable((out.problems + out.trace).join(QLatin1Char('\n'))));
    QCOMPARE(rig.engine.state().ErrorCount, qint16(timeOuts));
    QCOMPARE(out.success, timeOuts < 4);
    QCOMPARE(out.box, timeOuts == 4);
    QCOMPARE(out.restarts, qMin(timeOuts, 3));
}

void TestSoak::soak_data() {
    QTest::addColumn<quint32>("firstSeed");
    QTest::addColumn<int>("count");
    const quint32 seed = envNumber("KUU_SOAK_SEED", DefaultSeed);
    const int sessions = int(envNumber("KUU_SOAK_SESSIONS", DefaultSessions));
    for (int from = 0; from < sessions; from += SessionsPerRow) {
        const int count = qMin(SessionsPerRow, sessions - from);
        const quint32 first = seed + quint32(from);
        QTest::addRow("seeds %u-%u", first, first + quint32(count - 1)) << first << count;
    }
}

void TestSoak::soak() {
    QFETCH(quint32, firstSeed);
    QFETCH(int, count);
    const bool tracing = qEnvironmentVariableIntValue("KUU_SOAK_TRACE") != 0;
    const bool leftovers = qEnvironmentVariable("KUU_SOAK_LEFTOVERS") != QLatin1String("0");

    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<SoakRig> rig;
    quint32 rigSeed = 0; // the session a rig was made for: replays start there
    int rigSessions = 0;
    qint64 failed = 0;
    for (int k = 0; k < count; ++k) {
        const quint32 seed = firstSeed + quint32(k);
        const FaultScript script = FaultScript::make(seed);
        if (!rig || script.freshRig) {
            rig = std::make_unique<SoakRig>(script.tickBase, folder.path());
            rigSeed = seed;
            rigSessions = 0;
            ++totals.newRigs;
        }
        ++rigSessions;
        const QString replay =
            QStringLiteral("replay: KUU_SOAK_SEED=%1 KUU_SOAK_SESSIONS=%2 KUU_SOAK_TRACE=1%3")
                .arg(rigSeed)
                .arg(rigSessions)
                .arg(leftovers ? QString() : QStringLiteral(" KUU_SOAK_LEFTOVERS=0"));
        replayLine = (replay + QLatin1Char('\n') + script.describe()).toLocal8Bit();

        const Outcome out = runSession(*rig, script, tracing && k == count - 1);
        ++totals.sessions;
        totals.successes += out.success ? 1 : 0;
        totals.boxes += out.box ? 1 : 0;
        totals.restarts += out.restarts;
        totals.lineLost += out.lineLost ? 1 : 0;
        totals.probes += out.probes;
        totals.nearLimitAccepted += out.nearLimitAccepted;
        totals.nearLimitMissed += out.nearLimitMissed;
        totals.simulatedMs += out.simulatedMs;
        if (tracing && k == count - 1)
            std::printf("%s\n%s\n", qPrintable(script.describe()),
                        qPrintable(out.trace.join(QLatin1Char('\n'))));

        if (!out.problems.isEmpty()) {
            ++failed;
            if (printedFailures++ < 3) {
                const QStringList steps = traceOf(rigSeed, rigSessions);
                std::printf("soak: session with seed %u FAILED\n  %s\n%s\n%s\nwhat happened:\n%s\n\n", seed,
                            qPrintable(out.problems.join(QStringLiteral("\n  "))), qPrintable(replay),
                            qPrintable(script.describe()), qPrintable(steps.join(QLatin1Char('\n'))));
                std::fflush(stdout);
            }
        }
        // A lost line stays lost, and a failed session may have left anything behind.
        if (out.lineLost || !out.problems.isEmpty())
            rig.reset();
    }
    replayLine.clear();
    totals.failed += failed;
    totals.realMs += clock.elapsed();
    QVERIFY2(failed == 0, qPrintable(QStringLiteral("%1 of %2 sessions failed").arg(failed).arg(count)));
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
