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

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kSector = 65536;
const QByteArray kProbe(12, 'X');

QString simulatorPath() {
    const QString fromEnv = qEnvironmentVariable("KUU_MODULE_SIM");
    return fromEnv.isEmpty() ? QStringLiteral(KUU_MODULE_SIM_FALLBACK) : fromEnv;
}

QByteArray randomImage(int sectors, quint32 seed = 1) {
    QByteArray data(sectors * kSector, Qt::Uninitialized);
    QRandomGenerator rng(seed);
    for (char& c : data)
        c = char(rng.bounded(256));
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

// The simulator as a child process, with the host's end of its line opened raw.
class Sim {
public:
    ~Sim() {
        closePort();
        if (proc.state() != QProcess::NotRunning) {
            proc.terminate();
            if (!proc.waitForFinished(2000))
                proc.kill();
            proc.waitForFinished(1000);
        }
    }

    bool start(const QStringList& args) {
        proc.start(simulatorPath(), args);
        if (!proc.waitForStarted(5000))
            return false;
        QElapsedTimer timer;
        timer.start();
        while (!proc.canReadLine() && timer.elapsed() < 5000)
            proc.waitForReadyRead(100);
        path = QString::fromLocal8Bit(proc.readLine()).trimmed();
        return !path.isEmpty() && openPort();
    }

    bool openPort() {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        return tcsetattr(fd, TCSANOW, &tio) == 0;
    }

    void closePort() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    bool write(const QByteArray& bytes) {
        qsizetype done = 0;
        QElapsedTimer timer;
        timer.start();
        while (done < bytes.size() && timer.elapsed() < 5000) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN)
                return false;
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
        return done == bytes.size();
    }

    // The host writes a sector as four blocks.
    bool writeSector(const QByteArray& image, int sector) {
        for (int block = 0; block < 4; ++block) {
            if (!write(image.mid(sector * kSector + block * 16384, 16384)))
                return false;
        }
        return true;
    }

    // Reads until `done` holds for what arrived, or `timeoutMs` passed; `lastByteMs` is when the
    // last byte came, counted from the call.
    QByteArray readUntil(const std::function<bool(const QByteArray&)>& done, int timeoutMs) {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        lastByteMs = -1;
        hungUp = false;
        while (!done(got) && timer.elapsed() < timeoutMs) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 10);
            if (p.revents & POLLIN) {
                char buf[4096];
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0) {
                    got.append(buf, n);
                    lastByteMs = timer.elapsed();
                    continue;
                }
            }
            if (p.revents & (POLLHUP | POLLERR)) {
                hungUp = true;
                break;
            }
        }
        return got;
    }

    // Everything that arrives within `ms`.
    QByteArray readFor(int ms) {
        return readUntil([](const QByteArray&) { return false; }, ms);
    }

    // Reads until at least `n` bytes came and then nothing more for `quietMs`.
    QByteArray readAnswer(int n, int quietMs = 60) {
        QByteArray got = readUntil([n](const QByteArray& b) { return b.size() >= n; }, 2000);
        const int firstPart = lastByteMs;
        got += readFor(quietMs);
        lastByteMs = firstPart;
        return got;
    }

    QString log() {
        QCoreApplication::processEvents(); // QProcess collects the child's output in the event loop
        stderrText += QString::fromLocal8Bit(proc.readAllStandardError());
        return stderrText;
    }

    QProcess proc;
    QString path;
    QString stderrText;
    int fd = -1;
    int lastByteMs = -1;
    bool hungUp = false;
};

bool isGarbage(const QByteArray& bytes) {
    for (char c : bytes) {
        if (QByteArray("ABCEKNOPUXabceknopux").contains(c))
            return false;
    }
    return true;
}

} // namespace

class TestModuleSim : public QObject {
    Q_OBJECT

private slots:
    void helpListsEveryOption();
    void badArguments_data();
    void badArguments();
    void identification_data();
    void identification();
    void lineSurvivesHostReopen();
    void transfer_data();
    void transfer();
    void restartAfterFault_data();
    void restartAfterFault();
    void wireRateHoldsBackTheSender();
    void hangupClosesTheLine();
    void comtest_data();
    void comtest();
    void cleanExit_data();
    void cleanExit();
};

void TestModuleSim::helpListsEveryOption() {
    QProcess proc;
    proc.start(simulatorPath(), {"--help"});
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(proc.readAllStandardOutput());
    for (const char* option :
         {"--device", "--link", "--type", "--xx", "--answer-delay", "--drop-request", "--drop-end",
          "--lower-case", "--noise", "--split", "--flood-end", "--wire-rate", "--flash-time", "--out",
          "--sessions", "--hangup-after-sector", "--comtest", "--quiet", "--help"})
        QVERIFY2(help.contains(QLatin1String(option)), option);
}

void TestModuleSim::badArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown option") << QStringList{"--bogus"};
    QTest::newRow("missing value") << QStringList{"--type"};
    QTest::newRow("seconds not a number") << QStringList{"--flash-time", "fast"};
    QTest::newRow("negative seconds") << QStringList{"--answer-delay=-1"};
    QTest::newRow("negative count") << QStringList{"--sessions", "-1"};
    QTest::newRow("fractional count") << QStringList{"--xx", "1.5"};
    QTest::newRow("sector beyond 254") << QStringList{"--drop-request", "255"};
    QTest::newRow("value on a flag") << QStringList{"--noise=1"};
}

void TestModuleSim::badArguments() {
    QFETCH(QStringList, args);
    QProcess proc;
    proc.start(simulatorPath(), args);
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitCode(), 2);
    // Whoever started us reads the device from stdout: nothing may appear there on a usage error.
    QVERIFY(proc.readAllStandardOutput().isEmpty());
}

void TestModuleSim::identification_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArrayList>("answers"); // one per probe
    QTest::addColumn<bool>("noise");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs"); // the host looks for XX 200 ms after its probe

    QTest::newRow("default type") << QStringList{} << QByteArrayList{"AA", "AA"} << false << 0 << 150;
    QTest::newRow("type code") << QStringList{"--type", "UP"} << QByteArrayList{"UP"} << false << 0 << 150;
    QTest::newRow("switch off first")
        << QStringList{"--xx", "2", "--type", "AB"} << QByteArrayList{"XX", "XX", "AB"} << false << 0 << 150;
    QTest::newRow("lower case") << QStringList{"--lower-case", "--xx=1", "--type=AC"}
                                << QByteArrayList{"xx", "ac"} << false << 0 << 150;
    QTest::newRow("split") << QStringList{"--split", "--xx", "1"} << QByteArrayList{"XX", "AA"} << false << 5
                           << 150;
    QTest::newRow("noise after answer")
        << QStringList{"--noise", "--xx", "1"} << QByteArrayList{"XX", "AA"} << true << 0 << 150;
    QTest::newRow("late answer") << QStringList{"--answer-delay", "0.4"} << QByteArrayList{"AA"} << false
                                 << 350 << 1100;
}

void TestModuleSim::identification() {
    QFETCH(QStringList, args);
    QFETCH(QByteArrayList, answers);
    QFETCH(bool, noise);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    Sim sim;
    QVERIFY(sim.start(args));
    for (const QByteArray& expected : answers) {
        QVERIFY(sim.write(kProbe));
        const QByteArray got = sim.readAnswer(expected.size());
        if (noise) {
            // The host judges the first two characters: the answer must come first, whole.
            QVERIFY2(got.startsWith(expected), got.toHex().constData());
            QVERIFY(got.size() > expected.size());
            QVERIFY(isGarbage(got.mid(expected.size())));
        } else {
            QCOMPARE(got, expected);
        }
        QVERIFY2(sim.lastByteMs >= minMs && sim.lastByteMs <= maxMs, QByteArray::number(sim.lastByteMs));
    }
    QCOMPARE(sim.log().count(QLatin1String("probe\n")), answers.size());
}

void TestModuleSim::lineSurvivesHostReopen() {
    Sim sim;
    QVERIFY(sim.start({}));
    QVERIFY(sim.write(kProbe));
    QCOMPARE(sim.readAnswer(2), QByteArray("AA"));
    // The host closes its port between sessions; the next open must find a working line.
    sim.closePort();
    QTest::qWait(50);
    QVERIFY(sim.openPort());
    QVERIFY(sim.write(kProbe));
    QCOMPARE(sim.readAnswer(2), QByteArray("AA"));
    QVERIFY(!sim.hungUp);
}

void TestModuleSim::transfer_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("sectors");
    QTest::addColumn<int>("minFlashMs");

    QTest::newRow("two sectors") << QStringList{} << 2 << 0;
    QTest::newRow("three sectors, noise") << QStringList{"--noise"} << 3 << 0;
    QTest::newRow("split answers") << QStringList{"--split"} << 2 << 0;
    QTest::newRow("lower case") << QStringList{"--lower-case"} << 1 << 0;
    QTest::newRow("slow flash") << QStringList{"--flash-time", "0.2"} << 2 << 180;
}

void TestModuleSim::transfer() {
    QFETCH(QStringList, args);
    QFETCH(int, sectors);
    QFETCH(int, minFlashMs);

    QTemporaryDir dir;
    const QString out = dir.filePath("image.bin");
    if (!args.contains("--flash-time"))
        args += QStringList{"--flash-time", "0.01"};
    Sim sim;
    QVERIFY(sim.start(args + QStringList{"--out", out}));
    const bool lower = args.contains("--lower-case");
    const QByteArray ok = lower ? "ok" : "OK";
    const QByteArray en = lower ? "en" : "EN";
    const QByteArray image = randomImage(sectors);

    QVERIFY(sim.write(announcement(sectors)));
    for (int s = 0; s < sectors; ++s) {
        // The host takes a request from the last two characters of what it received.
        const QByteArray got = sim.readUntil([&](const QByteArray& b) { return b.endsWith(ok); }, 2000);
        QVERIFY2(got.endsWith(ok), qPrintable(QStringLiteral("sector %1: %2").arg(s).arg(got.toHex())));
        QVERIFY(isGarbage(got.chopped(2)));
        if (s > 0)
            QVERIFY2(sim.lastByteMs >= minFlashMs, QByteArray::number(sim.lastByteMs));
        QVERIFY(!QFile::exists(out)); // not before the transfer is complete
        QVERIFY(sim.writeSector(image, s));
    }
    // The host takes the end mark from the first two characters after the last request.
    const QByteArray tail = sim.readAnswer(2);
    QCOMPARE(tail, en);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 2000);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == image);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"image.bin"});
    QTRY_VERIFY(sim.log().contains(QLatin1String("\nend\n")));
}

void TestModuleSim::restartAfterFault_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("sectors");
    QTest::addColumn<int>("stallAt"); // the request that the first attempt does not get; sectors = the end
    QTest::addColumn<QString>("stall");

    QTest::newRow("first request dropped") << QStringList{"--drop-request", "0"} << 2 << 0 << "silent";
    QTest::newRow("second request dropped") << QStringList{"--drop-request", "1"} << 2 << 1 << "silent";
    QTest::newRow("end mark dropped") << QStringList{"--drop-end"} << 2 << 2 << "silent";
    QTest::newRow("end mark flooded") << QStringList{"--flood-end"} << 1 << 1 << "flood";
    QTest::newRow("host stops mid-sector") << QStringList{} << 2 << 1 << "partial";
}

// The host restarts a transfer with a fresh announcement after a missing answer; the module must
// accept it, and only the image of the attempt that completed may end up in the file.
void TestModuleSim::restartAfterFault() {
    QFETCH(QStringList, args);
    QFETCH(int, sectors);
    QFETCH(int, stallAt);
    QFETCH(QString, stall);

    QTemporaryDir dir;
    const QString out = dir.filePath("image.bin");
    Sim sim;
    QVERIFY(sim.start(args + QStringList{"--flash-time", "0.01", "--out", out}));
    const QByteArray first = randomImage(sectors);

    QVERIFY(sim.write(announcement(sectors)));
    for (int s = 0; s < stallAt; ++s) {
        QCOMPARE(sim.readAnswer(2), QByteArray("OK"));
        QVERIFY(sim.writeSector(first, s));
    }
    if (stall == "silent") {
        QCOMPARE(sim.readFor(250), QByteArray());
    } else if (stall == "flood") {
        const QByteArray got = sim.readUntil([](const QByteArray& b) { return b.endsWith("EN"); }, 3000);
        QVERIFY(got.size() >= kSector);
        QVERIFY(!got.startsWith("EN"));
        QVERIFY(isGarbage(got.chopped(2)));
    } else {
        QCOMPARE(sim.readAnswer(2), QByteArray("OK"));
        QVERIFY(sim.write(first.mid(stallAt * kSector, 20000)));
        QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QLatin1String("discard sector")), 3000);
    }
    QVERIFY(!QFile::exists(out));

    const QByteArray second = randomImage(sectors, 2);
    QVERIFY(sim.write(announcement(sectors)));
    for (int s = 0; s < sectors; ++s) {
        QCOMPARE(sim.readAnswer(2), QByteArray("OK"));
        QVERIFY(sim.writeSector(second, s));
    }
    QCOMPARE(sim.readAnswer(2), QByteArray("EN"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 2000);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == second);
    QVERIFY(sim.log().contains(QLatin1String("restart\n")));
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
        const ssize_t n = ::write(sim.fd, sector.constData() + taken, size_t(sector.size() - taken));
        if (n > 0)
            taken += n;
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

void TestModuleSim::hangupClosesTheLine() {
    Sim sim;
    QVERIFY(sim.start({"--hangup-after-sector", "0", "--flash-time", "0"}));
    QVERIFY(sim.write(announcement(2)));
    QCOMPARE(sim.readAnswer(2), QByteArray("OK"));
    QVERIFY(sim.writeSector(randomImage(1), 0));
    sim.readFor(1000);
    QVERIFY(sim.hungUp);
    QVERIFY(sim.proc.waitForFinished(2000));
    QCOMPARE(sim.proc.exitCode(), 0);
    QVERIFY(sim.log().contains(QLatin1String("hangup\n")));
}

void TestModuleSim::comtest_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<char>("replyByte");
    QTest::addColumn<bool>("confirmed");

    QTest::newRow("confirmed") << QStringList{} << char(1) << true;
    QTest::newRow("confirmed through noise") << QStringList{"--noise"} << char(1) << true;
    QTest::newRow("wrong reply byte") << QStringList{} << char(2) << false;
}

void TestModuleSim::comtest() {
    QFETCH(QStringList, args);
    QFETCH(char, replyByte);
    QFETCH(bool, confirmed);

    Sim sim;
    QVERIFY(sim.start(args + QStringList{"--comtest", "--sessions", "1"}));
    // The host only accepts "UP" at the very start of what it holds.
    QByteArray got = sim.readUntil([](const QByteArray& b) { return b.size() >= 2; }, 2000);
    QVERIFY2(got.startsWith("UP"), got.toHex().constData());
    sim.readFor(50); // the rest of this burst, noise included

    QVERIFY(sim.write(QByteArray("OK") + replyByte));
    if (confirmed) {
        got = sim.readUntil([](const QByteArray& b) { return b.endsWith("OK"); }, 1000);
        QVERIFY2(got.endsWith("OK"), got.toHex().constData());
        QVERIFY(sim.proc.waitForFinished(3000));
        QCOMPARE(sim.proc.exitCode(), 0);
    } else {
        // Not a confirmation; the module keeps asking.
        got = sim.readFor(1200);
        QVERIFY(!got.contains("OK"));
        QVERIFY(got.contains("UP"));
    }
}

void TestModuleSim::cleanExit_data() {
    QTest::addColumn<int>("signal"); // 0: end by --sessions 1 after one transfer
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("sessions done") << 0;
}

void TestModuleSim::cleanExit() {
    QFETCH(int, signal);

    QTemporaryDir dir;
    const QString link = dir.filePath("ttyModule");
    Sim sim;
    QStringList args{"--link", link, "--flash-time", "0"};
    if (signal == 0)
        args += QStringList{"--sessions", "1"};
    QVERIFY(sim.start(args));
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path);

    if (signal != 0) {
        // Idle, the simulator sleeps in poll().
        const long before = cpuTicks(sim.proc.processId());
        QTest::qWait(300);
        QVERIFY(cpuTicks(sim.proc.processId()) - before <= 3);
        ::kill(pid_t(sim.proc.processId()), signal);
    } else {
        QVERIFY(sim.write(announcement(1)));
        QCOMPARE(sim.readAnswer(2), QByteArray("OK"));
        QVERIFY(sim.writeSector(randomImage(1), 0));
        // The end mark must reach the host although the simulator exits right after it.
        QCOMPARE(sim.readUntil([](const QByteArray& b) { return b.size() >= 2; }, 2000), QByteArray("EN"));
    }
    QVERIFY(sim.proc.waitForFinished(3000));
    QCOMPARE(sim.proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.proc.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestModuleSim)
#include "tst_module_sim.moc"
