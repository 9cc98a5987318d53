// Measures the figures the utility is held to, prints them beside their targets.
// Each figure that depends on memory or start-up runs in a child process of its own.

#include "ActivityInd.h"
#include "FileAge.h"
#include "Form1.h"
#include "LineSettings.h"
#include "Pty.h"
#include "QtEventPass.h"
#include "RealBench.h"
#include "Ser2Net.h"
#include "SerialControl.h"
#include "SilentListener.h"
#include "SimWorld.h"
#include "StationFigures.h"
#include "SystemClock.h"
#include "UpdateEngine.h"
#include "WindowProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <vector>

namespace {

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// A module that takes the bytes and forgets them, so that only the engine's own memory counts.
class DiscardingModule : public SerialControl {
public:
    explicit DiscardingModule(SimWorld& world)
        : world(world) {}
    bool setPortOpen(bool open) override {
        isOpen = open;
        return true;
    }
    bool PortOpen() const override { return isOpen; }
    QByteArray Input() override {
        QByteArray all;
        all.swap(waiting);
        return all;
    }
    void Output(const QByteArray& text) override {
        if (text == UpdateEngine::ModuleProbe)
            reply("AA", 20);
        else if (text.size() == 3 && text.startsWith("OK")) {
            sectors = quint8(text[2]);
            reply("OK", 20);
        } else {
            received += text.size();
            if (received % 65536 == 0)
                reply(received / 65536 == sectors ? "EN" : "OK", 20);
        }
    }
    qint64 received = 0;

private:
    void reply(const QByteArray& text, int ms) {
        world.after(ms, [this, text] {
            waiting += text;
            raise(comEvReceive);
        });
    }
    SimWorld& world;
    QByteArray waiting;
    int sectors = 0;
    bool isOpen = true;
};

class NullDisplay : public StatusDisplay {
public:
    void showState(DisplayState) override {}
    void setStatusText(const QString&) override {}
    void setFileName(const QString&) override {}
    void setProgressMax(int) override {}
    void setProgressValue(int) override {}
    void setPercentText(const QString&) override {}
    void setElapsedText(const QString&) override {}
    void setActivityForeColor(quint32) override {}
    int activityStep() const override { return 0; }
    void setActivityStep(int) override {}
    void setBusyCursor(bool) override {}
    void beep() override {}
};

int engine255() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/QVL-GEN-BIG.bin";
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        const QByteArray sector(65536, '\x5A');
        for (int i = 0; i < 255; ++i)
            file.write(sector);
    }
    SimWorld world;
    world.limitMs = 24 * 3600 * 1000LL;
    SimTimer timer(world);
    DiscardingModule module(world);
    ModuleLine::apply(module);
    NullDisplay display;
    RecordingPrompts prompts;
    UpdateEngine engine(
        {module, world, world, timer, display, prompts, [&](const QString&) { return path; }, dir.path()});
    engine.StartUpdate();
    std::printf("%lld %.1f\n", module.received, peakMegabytes());
    return module.received == 255LL * 65536 ? 0 : 1;
}

int update16() {
    RealBench bench;
    if (bench.setUp({"--flash-time", "0", "--answer-delay", "0"}, 16).isEmpty())
        return 1;
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds();
    bench.form->updateCommand();
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = wall.elapsed() / 1000.0;
    std::printf("%.3f %.3f %.1f %d\n", seconds, cpu, peakMegabytes(), int(bench.prompts.messages.size()));
    return 0;
}

int startUp() {
    QTemporaryDir dir;
    const QString settingsFile = dir.path() + "/Kestrune_Update_Utility.ini";
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        for (int port = 1; port <= 9; ++port)
            settings.setValue(QStringLiteral("Ports/COM%1").arg(port), dir.path() + "/none");
    }
    RealWindow window; // the "No Com Ports available!" box is answered at once
    Form1& form = window.open(settingsFile, dir.path());
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    std::printf("shown\n");
    std::fflush(stdout);
    return 0;
}

// The window on COM1, a line with nobody at its other end, for 10 s: idle at Ready, or
// probing for a module that never answers. Prints the CPU share of a core.
int quietWindow(bool probing) {
    Pty line;
    QTemporaryDir dir;
    const QString settingsFile = dir.path() + "/Kestrune_Update_Utility.ini";
    {
        QFile file(settingsFile);
        file.open(QIODevice::WriteOnly);
        file.write(
            QStringLiteral("[Settings]\nCOM-Port=1\n[Ports]\nCOM1=%1\n").arg(line.slavePath()).toUtf8());
    }
    RealWindow window;
    Form1& form = window.open(settingsFile, dir.path());
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    QTest::qWait(1000); // start-up settles: first paints, fonts, the port scan
    const double before = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(10000, &form, [&] {
        if (probing)
            form.engine().interrupt();
        else
            QCoreApplication::quit();
    });
    if (probing)
        form.updateCommand();
    else
        QCoreApplication::exec();
    std::printf("%.4f\n", 100 * (cpuSeconds() - before) / (wall.elapsed() / 1000.0));
    return 0;
}

struct Row {
    QString figure;
    QString value;
    QString target;
    bool met;
};

QString childRun(const QString& mode, qint64* elapsedMs = nullptr) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(), {mode});
    child.waitForStarted();
    QString out;
    while (child.state() != QProcess::NotRunning || child.bytesAvailable()) {
        child.waitForReadyRead(50);
        out += QString::fromLocal8Bit(child.readAllStandardOutput());
        if (elapsedMs && *elapsedMs == 0 && out.contains("shown"))
            *elapsedMs = timer.elapsed();
        if (child.state() == QProcess::NotRunning)
            out += QString::fromLocal8Bit(child.readAllStandardOutput());
        if (child.state() == QProcess::NotRunning && !child.bytesAvailable())
            break;
    }
    child.waitForFinished(600000);
    return out.trimmed();
}

// A run of kestrune-update: wall time, its own CPU time, and whether every port succeeded.
struct CliRun {
    double wall = 0, cpu = 0;
    bool ok = false;
};

// Runs the command line on `ports` while the simulators and servers go on running, so the
// children's CPU time that grows here is the command line's alone.
CliRun runCommandLine(const QString& cli, const QString& image, const QString& record,
                      const QStringList& ports) {
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    QElapsedTimer wall;
    wall.start();
    QProcess child;
    child.start(cli, QStringList{"--json", "--image", image, "--record", record} + ports);
    child.waitForFinished(300000);
    CliRun run;
    run.wall = wall.elapsed() / 1000.0;
    getrusage(RUSAGE_CHILDREN, &after);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    run.cpu = seconds(after.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_utime) -
              seconds(before.ru_stime);
    run.ok = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    return run;
}

// kestrune-update (KUU_CLI) on four ports at once against the same on one port: the run should
// take as long as one port, and the command line should stay nearly idle while the lines work.
void commandLineFigures(std::vector<Row>& rows) {
    const QString cli = qEnvironmentVariable("KUU_CLI");
    if (cli.isEmpty() || !QFileInfo::exists(cli)) {
        rows.push_back(
            {"kestrune-update, 4 ports at once", "not measured (KUU_CLI unset)", "<= 1.1 x one", false});
        return;
    }
    QTemporaryDir dir;
    const QString imagePath = dir.filePath("image.bin");
    {
        QFile image(imagePath);
        if (!image.open(QIODevice::WriteOnly))
            return;
        image.write(QByteArray(8 * 65536, '\x5A'));
    }
    makeOld(imagePath);
    const auto runOn = [&](int ports) {
        std::vector<std::unique_ptr<SimulatorProcess>> sims;
        QStringList devices;
        for (int i = 0; i < ports; ++i) {
            sims.push_back(std::make_unique<SimulatorProcess>());
            devices << sims.back()->start({"--quiet", "--flash-time", "0", "--answer-delay", "0"});
        }
        return runCommandLine(cli, imagePath, dir.filePath("record.jsonl"), devices);
    };
    const CliRun one = runOn(1);
    const CliRun four = runOn(4);
    const double ratio = four.wall / one.wall;
    rows.push_back({"kestrune-update, 4 ports at once / 1 port",
                    QString::asprintf("%.2f s / %.2f s = %.2f x", four.wall, one.wall, ratio), "<= 1.1 x",
                    one.ok && four.ok && ratio <= 1.1});
    rows.push_back({"kestrune-update CPU share, 4 ports",
                    QString::asprintf("%.2f %%", 100 * four.cpu / four.wall), "<= 2 % (0.5 % a port)",
                    four.cpu / four.wall <= 0.02});
}

// A 4-sector update at wire rate through a real ser2net (RFC 2217) against the same on a local
// line, then eight such ports at once against one.
void networkFigures(std::vector<Row>& rows) {
    const QString cli = qEnvironmentVariable("KUU_CLI");
    const QString why = !Ser2Net::unavailable().isEmpty()          ? Ser2Net::unavailable()
                        : cli.isEmpty() || !QFileInfo::exists(cli) ? QStringLiteral("KUU_CLI unset")
                                                                   : QString();
    if (!why.isEmpty()) {
        rows.push_back(
            {"4-sector update over RFC 2217 / local", "not measured (" + why + ")", "<= 1.02 x", false});
        return;
    }
    QTemporaryDir dir;
    const QString imagePath = dir.filePath("image.bin");
    {
        QFile image(imagePath);
        if (!image.open(QIODevice::WriteOnly))
            return;
        QByteArray sectors(4 * 65536, '\xff');
        for (int i = 0; i < sectors.size(); i += 3)
            sectors[i] = char(i * 13);
        image.write(sectors);
    }
    makeOld(imagePath);
    const QString record = dir.filePath("record.jsonl");
    const auto simulators = [&dir](int count, std::vector<std::unique_ptr<SimulatorProcess>>& sims) {
        QStringList lines;
        for (int i = 0; i < count; ++i) {
            sims.push_back(std::make_unique<SimulatorProcess>());
            const QString link = dir.filePath(QStringLiteral("line%1-%2").arg(count).arg(i));
            sims.back()->start({"--quiet", "--wire-rate", "--link", link});
            lines << link;
        }
        return lines;
    };
    const auto overNetwork = [&](int count) {
        std::vector<std::unique_ptr<SimulatorProcess>> sims;
        QList<Ser2Net::Line> served;
        for (const QString& line : simulators(count, sims))
            served.append({line, Ser2Net::Kind::Rfc2217});
        Ser2Net server;
        const QString error = server.start(served);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "ser2net: %s\n", qPrintable(error));
            return CliRun{};
        }
        QStringList ports;
        for (int i = 0; i < count; ++i)
            ports << server.address(i);
        return runCommandLine(cli, imagePath, record, ports);
    };
    CliRun local;
    {
        std::vector<std::unique_ptr<SimulatorProcess>> sims;
        local = runCommandLine(cli, imagePath, record, simulators(1, sims));
    }
    const CliRun one = overNetwork(1);
    const CliRun eight = overNetwork(8);
    const double network = one.wall / local.wall;
    rows.push_back({"4-sector update, RFC 2217 via ser2net / local",
                    QString::asprintf("%.2f s / %.2f s = %.3f x", one.wall, local.wall, network), "<= 1.02 x",
                    local.ok && one.ok && network <= 1.02});
    const double many = eight.wall / one.wall;
    rows.push_back({"8 network ports at once / 1",
                    QString::asprintf("%.2f s / %.2f s = %.3f x", eight.wall, one.wall, many), "<= 1.1 x",
                    eight.ok && many <= 1.1});
    rows.push_back({"kestrune-update CPU share, 8 network ports",
                    QString::asprintf("%.2f %%", 100 * eight.cpu / eight.wall), "<= 1 % of a core",
                    eight.ok && eight.cpu / eight.wall <= 0.01});
}

// The window's program (KUU_APP) started with nine [Ports] lines naming network ports on
// silent hosts (loopback listeners whose queue is full), against nine absent devices.
void networkStartFigure(std::vector<Row>& rows) {
    const QString app = qEnvironmentVariable("KUU_APP");
    if (app.isEmpty() || !QFileInfo::exists(app)) {
        rows.push_back(
            {"start-up, nine silent network COMs", "not measured (KUU_APP unset)", "<= none + 1 s", false});
        return;
    }
    std::vector<std::unique_ptr<SilentListener>> silent;
    for (int i = 0; i < 9; ++i)
        silent.push_back(std::make_unique<SilentListener>());
    const auto startWith = [&app](const std::function<QString(int)>& line, QString* error) {
        std::vector<qint64> ms;
        for (int run = 0; run < 3; ++run) {
            QTemporaryDir dir;
            QDir().mkpath(dir.filePath("config/Kestrune_Update_Utility"));
            QFile settings(dir.filePath("config/Kestrune_Update_Utility/Kestrune_Update_Utility.ini"));
            if (!settings.open(QIODevice::WriteOnly))
                return qint64(-1);
            QByteArray text = "[Settings]\nCOM-Port=1\n[Ports]\n";
            for (int com = 1; com <= 9; ++com)
                text += QStringLiteral("COM%1=%2\n").arg(com).arg(line(com)).toUtf8();
            settings.write(text);
            settings.close();
            WindowProcess window(dir.path());
            const QString failure = window.start(app, 20000);
            if (!failure.isEmpty() && error)
                *error = failure;
            ms.push_back(failure.isEmpty() ? window.untilDrawn(20000, error) : -1);
            if (ms.back() < 0)
                return qint64(-1);
        }
        std::sort(ms.begin(), ms.end());
        return ms[1];
    };
    QString error;
    const qint64 none =
        startWith([](int com) { return QStringLiteral("/nonexistent/tty%1").arg(com); }, &error);
    const qint64 nine = startWith(
        [&silent](int com) {
            return QStringLiteral("%1://127.0.0.1:%2")
                .arg(com % 2 ? QStringLiteral("rfc2217") : QStringLiteral("socket"))
                .arg(silent[size_t(com - 1)]->port);
        },
        &error);
    const bool full = std::all_of(silent.cbegin(), silent.cend(), [](const auto& l) { return l->full; });
    if (none < 0 || nine < 0 || !full) {
        rows.push_back({"start-up, nine silent network COMs",
                        "failed: " + (full ? error : QStringLiteral("a listener's queue would not fill")),
                        "<= none + 1 s", false});
        return;
    }
    rows.push_back({"start-up drawn, nine silent network COMs / none",
                    QString::asprintf("%lld ms / %lld ms (+%lld ms)", nine, none, nine - none),
                    "<= none + 1000 ms", nine - none <= 1000});
}

int driver() {
    std::vector<Row> rows;
    std::printf("Machine: %d cores, Qt %s\n\n", QThread::idealThreadCount(), qVersion());
    std::fflush(stdout);

    // A 16-sector update against the simulator over a pseudo-terminal.
    const QStringList update = childRun("--update16").split(' ');
    if (update.size() == 4) {
        const double wall = update[0].toDouble();
        const double cpu = update[1].toDouble();
        const double floor = 1.2 + 16 * 1.0 + 2.0 + 3.0;
        const double beyond = (wall - floor) / 16 * 1000;
        rows.push_back({"16-sector update, wall time",
                        QString::asprintf("%.2f s (floor %.1f s)", wall, floor), "-", update[3] == "0"});
        rows.push_back({"time beyond the floor per sector", QString::asprintf("%.1f ms", beyond), "<= 5 ms",
                        beyond <= 5});
        rows.push_back({"CPU share during the update", QString::asprintf("%.2f %%", 100 * cpu / wall),
                        "<= 0.5 % (aim 0.3 %)", cpu / wall <= 0.005});
        rows.push_back({"peak memory, 16-sector update", QString::asprintf("%.1f MB", update[2].toDouble()),
                        "<= 80 MB", update[2].toDouble() <= 80});
    } else {
        rows.push_back({"16-sector update", "failed: " + update.join(' '), "-", false});
    }

    const QStringList big = childRun("--engine255").split(' ');
    const bool bigOk = big.size() == 2 && big[0].toLongLong() == 255LL * 65536;
    rows.push_back({"peak memory, 255-sector image (engine)", big.value(1) + " MB", "<= 80 MB",
                    bigOk && big.value(1).toDouble() <= 80});

    // warte(0.2), 50 times, on the real event loop.
    {
        SystemClock clock;
        QtEventPass events;
        QtIntervalTimer timer(100);
        DiscardingModule idle(*new SimWorld);
        NullDisplay display;
        RecordingPrompts prompts;
        UpdateEngine engine({idle, clock, events, timer, display, prompts,
                             [](const QString&) { return QString(); }, QString()});
        std::vector<double> ms;
        for (int i = 0; i < 50; ++i) {
            const double start = clock.seconds();
            engine.warte(0.2);
            ms.push_back((clock.seconds() - start) * 1000);
        }
        std::sort(ms.begin(), ms.end());
        const double median = (ms[24] + ms[25]) / 2;
        rows.push_back({"warte(0.2) min / median / max",
                        QString::asprintf("%.1f / %.1f / %.1f ms", ms.front(), median, ms.back()),
                        ">= 200, median <= 205 ms", ms.front() >= 200 && median <= 205});
    }

    const double idle = childRun("--idle").toDouble();
    rows.push_back(
        {"CPU, window idle at Ready (10 s)", QString::asprintf("%.3f %%", idle), "<= 0.05 %", idle <= 0.05});
    const double probing = childRun("--probe").toDouble();
    rows.push_back({"CPU, window probing, no module (10 s)", QString::asprintf("%.3f %%", probing),
                    "<= 0.5 %", probing <= 0.5});

    qint64 shownMs = 0;
    const QString started = childRun("--startup", &shownMs);
    rows.push_back({"start-up to the window shown (no ports)", QString::asprintf("%lld ms", shownMs),
                    "<= 500 ms", started.contains("shown") && shownMs <= 500});

    {
        // Drawn by the renderer itself: the control shows a frame it has drawn before from its cache.
        ActivityInd indicator;
        QImage frame(113, 105, QImage::Format_RGB32);
        activity::DrawState state;
        const activity::ColorResolver resolve = [&indicator](quint32 c) { return indicator.XlatColor(c); };
        const int frames = 2000;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < frames; ++i)
            activity::renderFrame(frame, {activity::RingArrow, qint16((i % 11) * 10), 0x8000000F, 0xC000},
                                  state, resolve);
        const double perFrame = timer.nsecsElapsed() / 1e6 / frames;
        rows.push_back({"indicator frame at 113 x 105", QString::asprintf("%.3f ms", perFrame), "< 0.5 ms",
                        perFrame < 0.5});
    }

    commandLineFigures(rows);
    networkFigures(rows);
    networkStartFigure(rows);
    for (const StationFigure& figure : stationFigures(QCoreApplication::applicationFilePath()))
        rows.push_back({figure.figure, figure.value, figure.target, figure.met});

    bool all = true;
    std::printf("%-42s %-28s %-26s %s\n", "Figure", "Measured", "Target", "Meets");
    for (const Row& row : rows) {
        std::printf("%-42s %-28s %-26s %s\n", qPrintable(row.figure), qPrintable(row.value),
                    qPrintable(row.target), row.met ? "yes" : "NO");
        all = all && row.met;
    }
    return all ? 0 : 1;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == "--engine255")
        return engine255();
    if (mode == "--update16")
        return update16();
    if (mode == "--startup")
        return startUp();
    if (mode == "--idle" || mode == "--probe")
        return quietWindow(mode == "--probe");
    if (mode == "--station-memory")
        return stationMemory();
    if (mode == "--station") {
        // Only the station's figures.
        for (const StationFigure& row : stationFigures(QCoreApplication::applicationFilePath()))
            std::printf("%-48s %-34s %-20s %s\n", qPrintable(row.figure), qPrintable(row.value),
                        qPrintable(row.target), row.met ? "yes" : "NO");
        return 0;
    }
    if (mode == "--network" || mode == "--network-start") {
        // Only the figures over the network, for a quick look after a change of the network code.
        std::vector<Row> rows;
        if (mode == "--network")
            networkFigures(rows);
        networkStartFigure(rows);
        for (const Row& row : rows)
            std::printf("%-48s %-34s %-20s %s\n", qPrintable(row.figure), qPrintable(row.value),
                        qPrintable(row.target), row.met ? "yes" : "NO");
        return 0;
    }
    return driver();
}
