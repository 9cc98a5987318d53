// End-to-end checks of the module simulator: each case starts the real executable, opens the
// pseudo-terminal it prints and plays the host's side byte for byte.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kSector = 65536;

QString simulatorPath() {
    const QString fromEnv = qEnvironmentVariable("KUU_MODULE_SIM");
    return fromEnv.isEmpty() ? QStringLiteral(KUU_MODULE_SIM_FALLBACK) : fromEnv;
}

QByteArray randomImage(int sectors, quint32 seed = 1) {
    QByteArray data(sectors * kSector, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
    return data;
}

QByteArray announcement(int sectors) {
    return QByteArray("OK") + char(sectors);
}

// CPU time (user + system, in clock ticks) the process has used so far.
long cpuTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong();
}

// The simulator as a child process, with the host's end of its line open.
class Sim {
public:
    ~Sim() {
        closePort();
        proc.kill();
        proc.waitForFinished(1000);
    }

    bool start(const QStringList& args) {
        proc.start(simulatorPath(), args);
        while (!proc.canReadLine() && proc.waitForReadyRead(5000)) {
        }
        path = QString::fromLocal8Bit(proc.readLine()).trimmed();
        return !path.isEmpty() && openPort();
    }

    // Left as the simulator set the line up: it promises both ends raw.
    bool openPort() {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return fd >= 0;
    }

    void closePort() { ::close(std::exchange(fd, -1)); }

    bool write(const QByteArray& bytes) {
        QElapsedTimer timer;
        timer.start();
        qsizetype done = 0;
        while (done < bytes.size() && timer.elapsed() < 5000) {
            done += qMax<ssize_t>(::write(fd, bytes.constData() + done, size_t(bytes.size() - done)), 0);
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        return done == bytes.size();
    }

    bool writeSector(const QByteArray& data, int s) { return write(data.mid(s * kSector, kSector)); }

    // Reads until `done` holds for what arrived, or `timeoutMs` passed; `lastByteMs` is when the
    // last byte came, counted from the call.
    QByteArray readUntil(const std::function<bool(const QByteArray&)>& done, int timeoutMs) {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        lastByteMs = -1;
        hungUp = false;
        while (!done(got) && !hungUp && timer.elapsed() < timeoutMs) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 10);
            char buf[4096];
            const ssize_t n = (p.revents & POLLIN) ? ::read(fd, buf, sizeof buf) : 0;
            if (n > 0) {
                got.append(buf, n);
                lastByteMs = int(timer.elapsed());
            } else {
                hungUp = p.revents & (POLLHUP | POLLERR);
            }
        }
        return got;
    }

    // Everything that arrives within `ms`.
    QByteArray readFor(int ms) {
        return readUntil([](const QByteArray&) { return false; }, ms);
    }

    // Reads until at least `n` bytes came and then nothing more for 60 ms; `lastByteMs` stays the
    // time of the first part.
    QByteArray readAnswer(int n) {
        QByteArray got = readUntil([n](const QByteArray& b) { return b.size() >= n; }, 2000);
        const int firstPart = lastByteMs;
        got += readFor(60);
        lastByteMs = firstPart;
        return got;
    }

    QProcess proc;
    QString path;
    int fd = -1;
    int lastByteMs = -1;
    bool hungUp = false;
};

bool isGarbage(const QByteArray& bytes) {
    return std::none_of(bytes.begin(), bytes.end(),
                        [](char c) { return QByteArray("ABCEKNOPUXabceknopux").contains(c); });
}

} // namespace

class TestModuleSim : public QObject {
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void identification_data();
    void identification();
    void transfer_data();
    void transfer();
    void wireRateHoldsBackTheSender();
    void cleanExit_data();
    void cleanExit();
};

void TestModuleSim::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("usage error") << QStringList{"--answer-delay=-1"} << 2;
}

void TestModuleSim::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QProcess proc;
    proc.start(simulatorPath(), args);
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), exitCode);
    // Whoever started us reads the device from stdout: nothing may appear there on a usage error.
    const QByteArray out = proc.readAllStandardOutput();
    QVERIFY2(exitCode == 0 ? out.contains("--hangup-after-sector") : out.isEmpty(), out.constData());
}

void TestModuleSim::identification_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArrayList>("answers"); // one per probe
    QTest::addColumn<int>("minMs");              // when the answer is complete, from the probe
    QTest::addColumn<int>("maxMs");              // the host looks for it 200 ms after its probe

    QTest::newRow("default type") << QStringList{} << QByteArrayList{"AA", "AA"} << 0 << 150;
    QTest::newRow("switch off first, lower case")
        << QStringList{"--lower-case", "--xx=2", "--type=AB"} << QByteArrayList{"xx", "xx", "ab"} << 0 << 150;
    // Without the usual delay, only the 10 ms between the two characters holds the answer back.
    QTest::newRow("split") << QStringList{"--split", "--answer-delay", "0"} << QByteArrayList{"AA"} << 8
                           << 150;
    QTest::newRow("noise after answer") << QStringList{"--noise"} << QByteArrayList{"AA"} << 0 << 150;
    QTest::newRow("late answer") << QStringList{"--answer-delay", "0.4"} << QByteArrayList{"AA"} << 350
                                 << 1100;
}

void TestModuleSim::identification() {
    QFETCH(QStringList, args);
    QFETCH(QByteArrayList, answers);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    const bool noise = args.contains("--noise");

    Sim sim;
    QVERIFY(sim.start(args));
    for (int i = 0; i < answers.size(); ++i) {
        if (i > 0) {
            // The host closes its port between sessions; the next open must find a working line.
            sim.closePort();
            QTest::qWait(50);
            QVERIFY(sim.openPort());
        }
        const QByteArray& expected = answers[i];
        QVERIFY(sim.write(QByteArray(12, 'X')));
        const QByteArray got = sim.readAnswer(expected.size());
        // The host judges the first two characters: the answer must come first, whole.
        QCOMPARE(got.left(expected.size()), expected);
        QCOMPARE(got.size() > expected.size(), noise);
        QVERIFY(isGarbage(got.mid(expected.size())));
        QVERIFY2(sim.lastByteMs >= minMs && sim.lastByteMs <= maxMs, QByteArray::number(sim.lastByteMs));
    }
}

void TestModuleSim::transfer_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("sectors");
    QTest::addColumn<QString>("fault"); // how a first attempt breaks off; empty: there is none
    QTest::addColumn<int>("faultAt");   // the request that attempt does not get; `sectors` for the end mark
    QTest::addColumn<int>("minFlashMs");

    QTest::newRow("slow flash") << QStringList{"--flash-time", "0.2"} << 3 << QString() << 0 << 180;
    QTest::newRow("noise before requests") << QStringList{"--noise"} << 3 << QString() << 0 << 0;
    QTest::newRow("second request dropped") << QStringList{"--drop-request", "1"} << 2 << "silent" << 1 << 0;
    QTest::newRow("end mark dropped") << QStringList{"--drop-end"} << 2 << "silent" << 2 << 0;
    QTest::newRow("end mark flooded") << QStringList{"--flood-end"} << 1 << "flood" << 1 << 0;
    QTest::newRow("host stops mid-sector") << QStringList{} << 2 << "partial" << 1 << 0;
}

// After a missing answer the host restarts with a fresh announcement; the module must accept
// it, and only the image of the attempt that completed may end up in the --out file. Only that
// attempt counts as a session, and the end mark must reach the host although the simulator exits
// right after it.
void TestModuleSim::transfer() {
    QFETCH(QStringList, args);
    QFETCH(int, sectors);
    QFETCH(QString, fault);
    QFETCH(int, faultAt);
    QFETCH(int, minFlashMs);

    QTemporaryDir dir;
    const QString out = dir.filePath("image.bin");
    if (!args.contains("--flash-time"))
        args += QStringList{"--flash-time", "0.01"};
    Sim sim;
    QVERIFY(sim.start(args + QStringList{"--sessions", "1", "--out", out}));

    if (!fault.isEmpty()) {
        const QByteArray first = randomImage(sectors, 2);
        QVERIFY(sim.write(announcement(sectors)));
        for (int s = 0; s < faultAt; ++s) {
            QCOMPARE(sim.readAnswer(2), QByteArray("OK"));
            QVERIFY(sim.writeSector(first, s));
        }
        if (fault == "silent") {
            QCOMPARE(sim.readFor(250), QByteArray());
        } else if (fault == "flood") {
            const QByteArray got = sim.readUntil([](const QByteArray& b) { return b.endsWith("EN"); }, 3000);
            QVERIFY(got.size() >= kSector);
            QVERIFY(isGarbage(got.chopped(2)));
        } else {
            QCOMPARE(sim.readAnswer(2), QByteArray("OK"));
            QVERIFY(sim.write(first.mid(faultAt * kSector, 20000)));
            QTest::qWait(1700); // a sector that stops for 1.5 s is discarded
        }
    }

    const QByteArray image = randomImage(sectors);
    QVERIFY(sim.write(announcement(sectors)));
    for (int s = 0; s < sectors; ++s) {
        // The host takes a request from the last two characters of what it received.
        const QByteArray got = sim.readUntil([](const QByteArray& b) { return b.endsWith("OK"); }, 2000);
        QVERIFY2(got.endsWith("OK"), qPrintable(QStringLiteral("sector %1: %2").arg(s).arg(got.toHex())));
        QVERIFY(isGarbage(got.chopped(2)));
        if (s > 0)
            QVERIFY2(sim.lastByteMs >= minFlashMs, QByteArray::number(sim.lastByteMs));
        QVERIFY(!QFile::exists(out)); // not before the transfer is complete
        QVERIFY(sim.writeSector(image, s));
    }
    // The host takes the end mark from the first two characters after the last request.
    QCOMPARE(sim.readAnswer(2), QByteArray("EN"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 2000);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == image);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"image.bin"});
    QVERIFY(sim.proc.waitForFinished(3000));
    QCOMPARE(sim.proc.exitCode(), 0);
}

void TestModuleSim::wireRateHoldsBackTheSender() {
    Sim sim;
    QVERIFY(sim.start({"--wire-rate", "--flash-time", "0"}));
    QVERIFY(sim.write(announcement(1)));
    QCOMPARE(sim.readAnswer(2), QByteArray("OK"));
    const long cpuBefore = cpuTicks(sim.proc.processId());

    // Offer a whole sector and watch how fast the line takes it. Once the kernel's buffer has
    // filled, it takes bytes as fast as the simulator reads them, in pieces of a few KiB, hence
    // the wide margin.
    const QByteArray sector(kSector, '\x5a');
    qsizetype taken = 0;
    qsizetype takenEarly = -1;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 1600) {
        taken += qMax<ssize_t>(::write(sim.fd, sector.constData() + taken, size_t(sector.size() - taken)), 0);
        if (takenEarly < 0 && timer.elapsed() >= 400)
            takenEarly = taken;
        pollfd p{sim.fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    QVERIFY2(takenEarly < kSector, "the sector went through at once");
    const qsizetype perSecond = (taken - takenEarly) * 1000 / 1200;
    QVERIFY2(perSecond > 8000 && perSecond < 16000, QByteArray::number(perSecond));
    QCOMPARE(sim.readFor(10), QByteArray());
    // Pacing must sleep, not spin.
    const long used = cpuTicks(sim.proc.processId()) - cpuBefore;
    QVERIFY2(used >= 0 && used <= sysconf(_SC_CLK_TCK) / 5, QByteArray::number(qlonglong(used)));
}

void TestModuleSim::cleanExit_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("SIGTERM while idle") << QStringList{};
    QTest::newRow("hang-up after a sector") << QStringList{"--hangup-after-sector", "0"};
    QTest::newRow("communication test confirmed") << QStringList{"--comtest", "--sessions", "1"};
    QTest::newRow("communication test through noise")
        << QStringList{"--comtest", "--sessions", "1", "--noise"};
}

// Every way the simulator ends: stopped, hanging up, or after its last session. It exits with
// status 0 and removes its --link.
void TestModuleSim::cleanExit() {
    QFETCH(QStringList, args);
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyModule");
    Sim sim;
    QVERIFY(sim.start(args + QStringList{"--link", link, "--flash-time", "0"}));
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path);

    if (args.contains("--comtest")) {
        // The host only accepts "UP" at the very start of what it holds.
        QByteArray got = sim.readUntil([](const QByteArray& b) { return b.size() >= 2; }, 2000);
        QVERIFY2(got.startsWith("UP"), got.toHex().constData());
        sim.readFor(50); // the rest of this burst, noise included
        // A wrong reply byte is no confirmation; the module keeps asking.
        QVERIFY(sim.write(QByteArray("OK\x02")));
        got = sim.readFor(1200);
        QVERIFY(!got.contains("OK") && got.contains("UP"));
        // The host takes the confirmation from the last two characters it received.
        QVERIFY(sim.write(QByteArray("OK\x01")));
        got = sim.readUntil([](const QByteArray& b) { return b.endsWith("OK"); }, 1000);
        QVERIFY2(got.endsWith("OK"), got.toHex().constData());
    } else if (!args.isEmpty()) {
        QVERIFY(sim.write(announcement(2)));
        QCOMPARE(sim.readAnswer(2), QByteArray("OK"));
        QVERIFY(sim.writeSector(randomImage(1), 0));
        sim.readFor(1000);
        QVERIFY(sim.hungUp);
    } else {
        // Idle, the simulator sleeps in poll().
        const long before = cpuTicks(sim.proc.processId());
        QTest::qWait(300);
        QVERIFY(cpuTicks(sim.proc.processId()) - before <= 3);
        ::kill(pid_t(sim.proc.processId()), SIGTERM);
    }
    QVERIFY(sim.proc.waitForFinished(3000));
    QCOMPARE(sim.proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.proc.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestModuleSim)
#include "tst_module_sim.moc"
