// The station's figures: update time against the one-shot run, identification, idle CPU, memory.
#include "StationFigures.h"

#include "ConsoleDisplay.h"
#include "FakeSerial.h"
#include "FileAge.h"
#include "LineSettings.h"
#include "Pty.h"
#include "ScriptedModule.h"
#include "SilentTimer.h"
#include "SimLead.h"
#include "SimWorld.h"
#include "SimulatorProcess.h"
#include "StationRules.h"
#include "StationSlot.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <climits>
#include <malloc.h>
#include <memory>
#include <unistd.h>

namespace {
// Events of a simulator with the time each was read, by a poll every few milliseconds.
struct TimedEvents {
    QList<QPair<qint64, QString>> lines;
    QElapsedTimer clock;
    QString partial;
    void poll(SimulatorProcess& sim) {
        // Nothing else runs this process's event loop meanwhile.
        sim.process.setReadChannel(QProcess::StandardError);
        sim.process.waitForReadyRead(0);
        partial += QString::fromLocal8Bit(sim.process.readAllStandardError());
        qsizetype end;
        while ((end = partial.indexOf('\n')) >= 0) {
            lines.append({clock.elapsed(), partial.left(end)});
            partial.remove(0, end + 1);
        }
    }
    // From each module's first type answer (each comes with its switch off: the first answer after
    // an XX) to its end mark, and to its announcement.
    void spans(QList<double>& updates, QList<double>& identifications) const {
        qint64 answered = -1;
        bool switchedOn = false;
        for (const auto& [at, text] : lines) {
            if (text == "answer XX")
                switchedOn = true;
            else if (text.startsWith("answer ") && switchedOn && answered < 0)
                answered = at;
            else if (text.startsWith("announce ") && answered >= 0 &&
                     identifications.size() == updates.size())
                identifications << (at - answered) / 1000.0;
            else if (text == "end" && answered >= 0) {
                updates << (at - answered) / 1000.0;
                answered = -1;
                switchedOn = false;
            }
        }
    }
};

// Runs the command line with `args` while `sim`'s events are read with their times.
bool runTimed(const QStringList& args, SimulatorProcess& sim, TimedEvents& events) {
    QProcess cli;
    events.clock.start();
    cli.start(qEnvironmentVariable("KUU_CLI"), args);
    while (!cli.waitForFinished(5))
        events.poll(sim);
    events.poll(sim);
    return cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0;
}

qint64 cpuTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
    return fields.value(12).toLongLong() + fields.value(13).toLongLong(); // utime, stime
}

// Freed memory is handed back first: what stays resident is what the program still holds.
long residentKb() {
    ::malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(1).toLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}

void updateFigures(std::vector<StationFigure>& rows, const QString& imagePath, QTemporaryDir& dir) {
    // Each module comes with its switch off (two XX), as an operator puts it on.
    const QStringList module{"--flash-time", "0", "--answer-delay", "0", "--xx", "2"};
    SimulatorProcess one;
    TimedEvents oneShot;
    const QString device = one.start(module);
    const bool oneOk = runTimed(
        {"--json", "--image", imagePath, "--record", dir.filePath("r1.jsonl"), device}, one, oneShot);
    SimulatorProcess lead;
    TimedEvents station;
    const QString slot =
        lead.start(module + QStringList{"--lead", "3", "--stay", "2.5", "--switch-off", "1.5"});
    const bool stationOk = runTimed({"--station", "--json", "--count", "3", "--image", imagePath, "--record",
                                     dir.filePath("r3.jsonl"), slot},
                                    lead, station);
    QList<double> oneUpdate, oneIdentify, updates, identifications;
    oneShot.spans(oneUpdate, oneIdentify);
    station.spans(updates, identifications);
    if (!oneOk || !stationOk || oneUpdate.size() != 1 || updates.size() != 3 || identifications.size() != 3) {
        rows.push_back({"station, one slot, three modules",
                        QString::asprintf("failed (%d %d, %lld %lld)", oneOk, stationOk,
                                          qint64(oneUpdate.size()), qint64(updates.size())),
                        "<= 1.02 x one-shot", false});
        return;
    }
    const double slowest = *std::max_element(updates.cbegin(), updates.cend());
    const double ratio = slowest / oneUpdate.first();
    rows.push_back({"station update / one-shot (slowest of 3)",
                    QString::asprintf("%.2f s / %.2f s = %.3f x", slowest, oneUpdate.first(), ratio),
                    "<= 1.02 x", ratio <= 1.02});
    const double latest = *std::max_element(identifications.cbegin(), identifications.cend());
    rows.push_back({"station identification after the answer",
                    QString::asprintf("%.2f s (latest of 3)", latest), "<= 1.3 s", latest <= 1.3});
}

void idleFigure(std::vector<StationFigure>& rows, const QString& imagePath, QTemporaryDir& dir) {
    std::vector<std::unique_ptr<Pty>> lines;
    QStringList ports{"--station", "--image", imagePath, "--record", dir.filePath("idle.jsonl")};
    for (int i = 0; i < 64; ++i) {
        lines.push_back(std::make_unique<Pty>());
        ports << lines.back()->slavePath();
    }
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.start(qEnvironmentVariable("KUU_CLI"), ports);
    cli.waitForStarted();
    QTest::qWait(5000); // the image's stand-still wait and the first probes
    const qint64 before = cpuTicks(cli.processId());
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(20000);
    const qint64 after = cpuTicks(cli.processId());
    const double share =
        100.0 * (after - before) / double(::sysconf(_SC_CLK_TCK)) / (wall.elapsed() / 1000.0);
    cli.terminate();
    cli.waitForFinished(10000);
    rows.push_back({"CPU, 64 station slots probing, no module", QString::asprintf("%.2f %% (20 s)", share),
                    "<= 1 % of a core", before >= 0 && after >= before && share <= 1.0});
}

// The tests' serial control without its record of every byte written, so that only the
// product's own memory counts.
class ForgetfulSerial : public FakeSerial {
public:
    void Output(const QByteArray& text) override {
        if (PortOpen() && onWrite)
            onWrite(text);
    }
};

struct CountingListener : SlotListener {
    std::atomic<int>& done;
    explicit CountingListener(std::atomic<int>& done)
        : done(done) {}
    // The least resident kB seen as updates 10 to 19 ended, and as updates 191 to 200 did. Four
    // slots at once hold their transfers' buffers at different moments, so single samples scatter
    // by a MB or two; the floor under ten early samples against that under ten late ones does not.
    static inline std::atomic<long> afterTen{LONG_MAX};
    static inline std::atomic<long> afterAll{LONG_MAX};
    static void lower(std::atomic<long>& least, long kb) {
        long seen = least.load();
        while (kb < seen && !least.compare_exchange_weak(seen, kb)) {
        }
    }
    void slotChanged(const SlotStatus&) override {}
    void updateFinished(const SessionReport&) override {
        const int now = ++done;
        if (now >= 10 && now < 20)
            lower(afterTen, residentKb());
        else if (now > 190 && now <= 200)
            lower(afterAll, residentKb());
    }
};

// One slot on a simulated clock of its own: a lead of modules, each gone by its XX.
class SimulatedSlot : public QThread {
public:
    SimulatedSlot(int modules, std::atomic<int>& done, StationRules& rules)
        : modules(modules)
        , done(done)
        , rules(rules) {}

protected:
    void run() override {
        QTemporaryDir dir;
        const QString path = dir.filePath("image.bin");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(QByteArray(4 * 65536, '\x5A'));
        file.close();
        FirmwareImage image;
        image.load(path);
        SimWorld world;
        world.limitMs = std::numeric_limits<qint64>::max();
        SilentTimer timer;
        ForgetfulSerial serial;
        ModuleLine::apply(serial);
        ConsoleDisplay display;
        UnattendedPrompts prompts;
        ScriptedModule module(world, serial);
        UpdateEngine engine({serial, world, world, timer, display, prompts,
                             [](const QString&) { return QString(); }, QString()});
        engine.useSettledImage(image);
        engine.setSuccessDisplay(false);
        QList<LeadModule> lead;
        for (int i = 0; i < modules; ++i)
            lead << LeadModule{i % 2 ? "AB" : "AA", 2500, 1500, 0, false};
        SimLead simLead(world, serial, module, lead);
        CountingListener listener(done);
        StationSlot slot(engine, serial, world, rules, 5.0, listener);
        // As the station does when --count is reached: a slot whose lead is empty stops probing.
        std::function<void()> watch = [&] {
            if (rules.isClosed())
                slot.windDown();
            else
                world.after(1000, watch);
        };
        world.after(1000, watch);
        slot.run();
    }

private:
    const int modules;
    std::atomic<int>& done;
    StationRules& rules;
};
} // namespace

int stationMemory() {
    std::atomic<int> done{0};
    StationRules rules(200);
    std::vector<std::unique_ptr<SimulatedSlot>> slotThreads;
    for (int i = 0; i < 4; ++i)
        slotThreads.push_back(std::make_unique<SimulatedSlot>(50, done, rules));
    for (const auto& slot : slotThreads)
        slot->start();
    for (const auto& slot : slotThreads)
        slot->wait();
    std::printf("%ld %ld %d\n", CountingListener::afterTen.load(), CountingListener::afterAll.load(),
                done.load());
    return 0;
}

std::vector<StationFigure> stationFigures(const QString& benchProgram) {
    std::vector<StationFigure> rows;
    const QString cli = qEnvironmentVariable("KUU_CLI");
    if (cli.isEmpty() || !QFileInfo::exists(cli)) {
        rows.push_back({"station figures", "not measured (KUU_CLI unset)", "-", false});
        return rows;
    }
    QTemporaryDir dir;
    const QString imagePath = dir.filePath("image.bin");
    {
        QFile image(imagePath);
        if (!image.open(QIODevice::WriteOnly))
            return rows;
        image.write(QByteArray(8 * 65536, '\x3C'));
    }
    makeOld(imagePath);
    updateFigures(rows, imagePath, dir);
    idleFigure(rows, imagePath, dir);

    QProcess child;
    child.start(benchProgram, {"--station-memory"});
    child.waitForFinished(600000);
    const QList<QByteArray> kb = child.readAllStandardOutput().trimmed().split(' ');
    const long growth = kb.value(1).toLong() - kb.value(0).toLong();
    rows.push_back(
        {"memory, 200 modules through 4 slots",
         QString::asprintf("+%ld kB after the first 10 (%s updates)", growth, kb.value(2).constData()),
         "<= 1024 kB", kb.size() == 3 && kb.value(2) == "200" && growth <= 1024});
    return rows;
}
