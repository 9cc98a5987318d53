// The serial control over QSerialPort, exercised on pseudo-terminals: the test plays the
// module on the master side and checks the bytes on the wire both ways, the receive events,
// the output back-pressure, the open failures and a peer that hangs up.

#include "FakeDeviceListing.h"
#include "LineSettings.h"
#include "PortAssignment.h"
#include "Pty.h"
#include "QtEventPass.h"
#include "SerialPortControl.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(SerialControl::OpenFailure)

namespace {

using OpenFailure = SerialControl::OpenFailure;

constexpr int blockSize = ModuleLine::OutBufferSize;

// Block number `k` of a transfer: every byte value in each run of 256, shifted from run to
// run and from block to block, so that a lost, doubled, swapped or rewritten byte shows.
QByteArray block(int k, qsizetype size = blockSize) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i + i / 256 + 37 * k) & 0xff);
    return bytes;
}

QByteArray joined(const QList<QByteArray>& parts) {
    QByteArray all;
    for (const QByteArray& part : parts)
        all += part;
    return all;
}

// Empty when equal, else where and how the two differ.
QString difference(const QByteArray& got, const QByteArray& want) {
    const qsizetype common = qMin(got.size(), want.size());
    qsizetype at = 0;
    while (at < common && got[at] == want[at])
        ++at;
    if (at == common && got.size() == want.size())
        return QString();
    return QStringLiteral("got %1 bytes, want %2; first difference at byte %3 (got %4, want %5)")
        .arg(got.size())
        .arg(want.size())
        .arg(at)
        .arg(at < got.size() ? QString::number(quint8(got[at]), 16) : QStringLiteral("nothing"))
        .arg(at < want.size() ? QString::number(quint8(want[at]), 16) : QStringLiteral("nothing"));
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// How many bytes the kernel takes from a pseudo-terminal's slave side while nobody reads the
// master: what may be out of the control's hands and still not at the peer.
qsizetype kernelCapacity() {
    Pty pty;
    termios raw{};
    ::tcgetattr(pty.slave(), &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(pty.slave(), TCSANOW, &raw);
    ::fcntl(pty.slave(), F_SETFL, ::fcntl(pty.slave(), F_GETFL) | O_NONBLOCK);
    const QByteArray chunk(1024, 'x');
    qsizetype taken = 0;
    for (int idle = 0; idle < 3;) {
        const ssize_t n = ::write(pty.slave(), chunk.constData(), size_t(chunk.size()));
        if (n > 0) {
            taken += n;
            idle = 0;
        } else {
            ++idle;
            ::usleep(10000);
        }
    }
    return taken;
}

// Running as root, become nobody (keeping the way back) for as long as this lives.
class NotRoot {
public:
    NotRoot() {
        if (::geteuid() == 0)
            dropped = ::setresuid(65534, 65534, 0) == 0;
    }
    ~NotRoot() {
        if (dropped && ::setresuid(0, 0, 0) != 0)
            qFatal("cannot become root again");
    }
    bool ok() const { return ::geteuid() != 0; }

private:
    bool dropped = false;
};

// A control on a pseudo-terminal, set up as the utility sets up a selected port, with a
// receive handler that takes everything at each receive event as the engine does.
struct Rig {
    Pty pty;
    QtEventPass pass;
    QByteArray received;   // taken with Input() at each receive event
    QList<int> commEvents; // CommEvent at each OnComm
    int linesLost = 0;
    QByteArray wire; // what the peer has read, while it drains
    SerialPortControl control;
    QTimer drainer;

    Rig()
        : control(pass, [this](int) { return pty.slavePath(); }) {
        ModuleLine::apply(control);
        control.setCommPort(1);
        QObject::connect(&control, &SerialControl::OnComm, &control, [this] {
            commEvents << control.CommEvent();
            if (control.CommEvent() == SerialControl::comEvReceive)
                received += control.Input();
        });
        QObject::connect(&control, &SerialControl::lineLost, &control, [this] { ++linesLost; });
        drainer.setInterval(1);
        QObject::connect(&drainer, &QTimer::timeout, [this] { wire += pty.readAvailable(); });
    }

    bool open() { return pty.isValid() && control.setPortOpen(true); }
    // Calls Output for each text in turn. Should Output hold the thread without running the
    // event loop, the peer's drain timer never fires: a reader on another thread then frees it
    // after 3 s, and the answer is true.
    bool outputAll(const QList<QByteArray>& texts, const std::function<void()>& beforeEach = {},
                   const std::function<void(const QByteArray&)>& afterEach = {}) {
        std::atomic<bool> done{false};
        std::atomic<bool> rescued{false};
        std::thread rescuer([&] {
            for (int waited = 0; waited < 3000 && !done; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            char sink[4096];
            while (!done) {
                if (::read(pty.master(), sink, sizeof sink) > 0)
                    rescued = true;
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        for (const QByteArray& text : texts) {
            if (beforeEach)
                beforeEach();
            control.Output(text);
            if (afterEach)
                afterEach(text);
        }
        done = true;
        rescuer.join();
        return rescued;
    }
    bool waitReceived(qsizetype count, int timeoutMs = 3000) {
        return QTest::qWaitFor([&] { return received.size() >= count; }, timeoutMs);
    }
    bool waitWire(qsizetype count, int timeoutMs = 3000) {
        return QTest::qWaitFor([&] { return wire.size() >= count; }, timeoutMs);
    }
};

} // namespace

class TestSerialPortControl : public QObject {
    Q_OBJECT
private slots:
    void lineSettings();
    void lineSettingsComeBack_data();
    void lineSettingsComeBack();
    void bytesOnTheWire_data();
    void bytesOnTheWire();
    void receive_data();
    void receive();
    void threshold_data();
    void threshold();
    void outputWaitsForAPeerThatDoesNotRead();
    void outputGivesUpOnAPeerThatNeverReads();
    void staleInputIsDropped_data();
    void staleInputIsDropped();
    void openFailures_data();
    void openFailures();
    void hangUp_data();
    void hangUp();
    void portMapping_data();
    void portMapping();
    void opensTheDeviceMappedForItsPort();
};

void TestSerialPortControl::lineSettings() {
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText() + rig.pty.error()));
    QVERIFY(rig.control.PortOpen());
    termios line{};
    QCOMPARE(::tcgetattr(rig.pty.slave(), &line), 0);
    QCOMPARE(::cfgetispeed(&line), speed_t(B115200));
    QCOMPARE(::cfgetospeed(&line), speed_t(B115200));
    // A pseudo-terminal always keeps 8 data bits and no parity, whatever is asked: only the
    // speed, the stop bits and the flow control can be seen on it.
    QCOMPARE(line.c_cflag & (CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));
}

// Whatever the open changes on the line is put back, however the control lets go of it.
void TestSerialPortControl::lineSettingsComeBack_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("closed") << "close";
    QTest::newRow("closed after an exchange") << "exchange";
    QTest::newRow("destroyed while open") << "destroy";
}

void TestSerialPortControl::lineSettingsComeBack() {
    QFETCH(QString, how);
    Pty pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    // As a shell leaves a terminal: line editing, echo, signals, 9600 baud.
    termios before{};
    QCOMPARE(::tcgetattr(pty.slave(), &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL | IXON;
    ::cfsetispeed(&before, B9600);
    ::cfsetospeed(&before, B9600);
    QCOMPARE(::tcsetattr(pty.slave(), TCSANOW, &before), 0);
    QCOMPARE(::tcgetattr(pty.slave(), &before), 0);

    QtEventPass pass;
    auto control = std::make_unique<SerialPortControl>(pass, [&pty](int) { return pty.slavePath(); });
    ModuleLine::apply(*control);
    QVERIFY2(control->setPortOpen(true), qPrintable(control->openFailureText()));
    termios open{};
    QCOMPARE(::tcgetattr(pty.slave(), &open), 0);
    QCOMPARE(::cfgetospeed(&open), speed_t(B115200)); // the open did change the line
    QVERIFY(!(open.c_lflag & ICANON));
    if (how == QLatin1String("exchange")) {
        control->Output("OK\x01");
        QCOMPARE(pty.read(3, 1000), QByteArray("OK\x01"));
    }
    if (how == QLatin1String("destroy"))
        control.reset();
    else
        QVERIFY(control->setPortOpen(false));

    termios after{};
    QCOMPARE(::tcgetattr(pty.slave(), &after), 0);
    QCOMPARE(after.c_lflag, before.c_lflag);
    QCOMPARE(after.c_iflag, before.c_iflag);
    QCOMPARE(after.c_oflag, before.c_oflag);
    QCOMPARE(after.c_cflag, before.c_cflag);
    QCOMPARE(::cfgetospeed(&after), speed_t(B9600));
}

void TestSerialPortControl::bytesOnTheWire_data() {
    QTest::addColumn<QList<QByteArray>>("writes");
    // A sector count of 10 is a line feed: a line that is not raw would send CR LF.
    QTest::newRow("announcement of 10 sectors") << QList<QByteArray>{QByteArray("OK\x0a")};
    QTest::newRow("announcement of 255 sectors") << QList<QByteArray>{QByteArray("OK\xff")};
    QTest::newRow("one block") << QList<QByteArray>{block(0)};
    QTest::newRow("announcement and a sector")
        << QList<QByteArray>{QByteArray("OK\x01"), block(0), block(1), block(2), block(3)};
    QTest::newRow("short texts") << QList<QByteArray>{"U", "P", QByteArray(1, '\0'), "OK"};
}

void TestSerialPortControl::bytesOnTheWire() {
    QFETCH(QList<QByteArray>, writes);
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText() + rig.pty.error()));
    rig.drainer.start();
    QVERIFY2(!rig.outputAll(writes), "Output held the thread without running the event loop");
    const QByteArray want = joined(writes);
    QVERIFY(rig.waitWire(want.size()));
    QTest::qWait(20); // nothing more may follow
    rig.wire += rig.pty.readAvailable();
    const QString diff = difference(rig.wire, want);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QVERIFY(rig.commEvents.isEmpty());
}

void TestSerialPortControl::receive_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("exactEvents"); // -1: at least one
    QTest::newRow("two-byte answer") << QByteArray("OK") << 1;
    // Carriage return, ^C, ^S, ^Q, DEL and the rest: a line that is not raw would eat or
    // rewrite some of them.
    QTest::newRow("every byte value") << block(0, 256) << -1;
    QTest::newRow("a sector's worth with InBufferSize 2")
        << joined({block(4), block(5), block(6), block(7)}) << -1;
}

void TestSerialPortControl::receive() {
    QFETCH(QByteArray, answer);
    QFETCH(int, exactEvents);
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText() + rig.pty.error()));
    QVERIFY(rig.pty.write(answer));
    QVERIFY(rig.waitReceived(answer.size()));
    QTest::qWait(20);
    rig.received += rig.control.Input();
    const QString diff = difference(rig.received, answer);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QVERIFY(!rig.commEvents.isEmpty());
    QCOMPARE(rig.commEvents.count(SerialControl::comEvReceive), rig.commEvents.size());
    if (exactEvents >= 0)
        QCOMPARE(rig.commEvents.size(), exactEvents);
}

void TestSerialPortControl::threshold_data() {
    QTest::addColumn<int>("rThreshold");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::newRow("2: one byte, then another") << 2 << QByteArray("O") << QByteArray("K");
    QTest::newRow("3: two bytes, then one") << 3 << QByteArray("EN") << QByteArray("!");
}

void TestSerialPortControl::threshold() {
    QFETCH(int, rThreshold);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    Rig rig;
    rig.control.setRThreshold(rThreshold);
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText() + rig.pty.error()));
    QVERIFY(rig.pty.write(first));
    QTest::qWait(60);
    QVERIFY(rig.commEvents.isEmpty());
    QVERIFY(rig.pty.write(second));
    QVERIFY(rig.waitReceived(first.size() + second.size()));
    QTest::qWait(20);
    QCOMPARE(rig.received, first + second);
    QCOMPARE(rig.commEvents, QList<int>{SerialControl::comEvReceive});
}

void TestSerialPortControl::outputWaitsForAPeerThatDoesNotRead() {
    const qsizetype capacity = kernelCapacity();
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText() + rig.pty.error()));
    QList<QByteArray> blocks;
    for (int k = 0; k < 8; ++k)
        blocks << block(k);

    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    bool peerReads = false;
    QTimer::singleShot(300, &rig.drainer, [&] {
        peerReads = true;
        rig.drainer.start();
    });
    QElapsedTimer clock;
    clock.start();
    int mostTicksInOneCall = 0;
    qsizetype sent = 0;
    qsizetype mostLeftBehind = 0;
    int ticksBefore = 0;
    const bool rescued = rig.outputAll(
        blocks, [&] { ticksBefore = ticks; },
        [&](const QByteArray& b) {
            sent += b.size();
            mostTicksInOneCall = qMax(mostTicksInOneCall, ticks - ticksBefore);
            // Not yet at the peer: in Qt's buffer and the kernel's.
            mostLeftBehind = qMax(mostLeftBehind, sent - rig.wire.size());
        });
    const qint64 took = clock.elapsed();

    QVERIFY2(!rescued, "Output held the thread without running the event loop");
    QVERIFY2(peerReads, "Output returned although the peer had read nothing");
    QVERIFY2(took >= 250, qPrintable(QStringLiteral("returned after %1 ms").arg(took)));
    QVERIFY2(mostTicksInOneCall >= 10,
             qPrintable(QStringLiteral("the event loop ran %1 ticks in one Output").arg(mostTicksInOneCall)));
    QVERIFY2(mostLeftBehind <= blockSize + capacity,
             qPrintable(QStringLiteral("returned with %1 bytes not yet at the peer (kernel holds %2)")
                            .arg(mostLeftBehind)
                            .arg(capacity)));
    const QByteArray want = joined(blocks);
    QVERIFY(rig.waitWire(want.size()));
    const QString diff = difference(rig.wire, want);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// A peer that keeps the line up but takes nothing: Output must not hold the update forever.
// It drops what it could not send, so the reply wait that follows runs into its time-out.
void TestSerialPortControl::outputGivesUpOnAPeerThatNeverReads() {
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText() + rig.pty.error()));
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(50);
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    QElapsedTimer clock;
    clock.start();
    for (int k = 0; k < 4; ++k)
        rig.control.Output(block(k));
    const qint64 took = clock.elapsed();
    // Each Output that finds the queue full gives up once; here two of the four do.
    QVERIFY2(took >= SerialPortControl::StallLimitMs && took < 2 * SerialPortControl::StallLimitMs + 1500,
             qPrintable(QStringLiteral("took %1 ms").arg(took)));
    QVERIFY(ticks >= 60); // the window stayed live
    QVERIFY(rig.control.PortOpen());
    // Once the peer reads again, nothing of the dropped blocks follows what the kernel held.
    rig.drainer.start();
    QTest::qWait(300);
    QVERIFY(rig.wire.size() < 2 * blockSize);
    rig.control.Output("OK");
    QVERIFY(QTest::qWaitFor([&] { return rig.wire.endsWith("OK"); }, 2000));
}

void TestSerialPortControl::staleInputIsDropped_data() {
    QTest::addColumn<QByteArray>("stale");
    QTest::newRow("part of an answer") << QByteArray("O");
    QTest::newRow("whole lines") << QByteArray("OK\nEN\r\n");
    QTest::newRow("a kilobyte of noise") << block(9, 1024);
}

void TestSerialPortControl::staleInputIsDropped() {
    QFETCH(QByteArray, stale);
    Rig rig;
    QVERIFY(rig.pty.isValid());
    QVERIFY(rig.pty.write(stale));
    ::usleep(30000); // well settled in the driver before the open
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText()));
    QTest::qWait(30);
    rig.pty.readAvailable(); // the slave's echo from before the open
    QVERIFY(rig.pty.write("UP"));
    QVERIFY(rig.waitReceived(2));
    QTest::qWait(20);
    QCOMPARE(rig.received + rig.control.Input(), QByteArray("UP"));
}

void TestSerialPortControl::openFailures_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<OpenFailure>("failure");
    QTest::addColumn<QString>("reason"); // a word the text must hold besides the device
    QTest::newRow("no such device") << "absent" << OpenFailure::Absent << "exist";
    QTest::newRow("held by another control") << "control" << OpenFailure::Busy << "in use";
    QTest::newRow("held by another serial port") << "qserialport" << OpenFailure::Busy << "in use";
    QTest::newRow("held under another name") << "link" << OpenFailure::Busy << "in use";
    QTest::newRow("no read/write permission") << "permission" << OpenFailure::PermissionDenied << "dialout";
    QTest::newRow("regular file") << "file" << OpenFailure::Other << "";
    QTest::newRow("not a terminal") << "null" << OpenFailure::Other << "";
    QTest::newRow("directory") << "directory" << OpenFailure::Other << "";
    QTest::newRow("this program's standard input") << "stdin" << OpenFailure::Other << "own terminal";
    QTest::newRow("a link to this program's standard input")
        << "stdin-link" << OpenFailure::Other << "own terminal";
}

void TestSerialPortControl::openFailures() {
    QFETCH(QString, situation);
    QFETCH(OpenFailure, failure);
    QFETCH(QString, reason);

    Pty pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QtEventPass pass;
    QString device;
    std::unique_ptr<SerialPortControl> holder;
    std::unique_ptr<QSerialPort> otherProgram;
    std::unique_ptr<NotRoot> user;
    int savedStdin = -1;
    const auto restoreStdin = qScopeGuard([&savedStdin] {
        if (savedStdin >= 0) {
            ::dup2(savedStdin, STDIN_FILENO);
            ::close(savedStdin);
        }
    });
    termios lineBefore{};
    ::tcgetattr(pty.slave(), &lineBefore);

    if (situation == QLatin1String("absent")) {
        device = dir.filePath(QStringLiteral("ttyUSB7"));
    } else if (situation == QLatin1String("control") || situation == QLatin1String("link")) {
        const QString held = pty.slavePath();
        holder = std::make_unique<SerialPortControl>(pass, [held](int) { return held; });
        QVERIFY(holder->setPortOpen(true));
        device = held;
        if (situation == QLatin1String("link")) {
            device = dir.filePath(QStringLiteral("ttyModule"));
            QVERIFY(QFile::link(held, device));
        }
    } else if (situation == QLatin1String("qserialport")) {
        device = pty.slavePath();
        otherProgram = std::make_unique<QSerialPort>(device);
        QVERIFY(otherProgram->open(QIODevice::ReadWrite));
    } else if (situation == QLatin1String("permission")) {
        device = pty.slavePath();
        QCOMPARE(::chmod(QFile::encodeName(device).constData(), 0), 0);
        user = std::make_unique<NotRoot>();
        if (!user->ok())
            QSKIP("running as root and cannot drop root: permissions do not apply");
    } else if (situation == QLatin1String("file")) {
        device = dir.filePath(QStringLiteral("image.bin"));
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(block(0, 64));
    } else if (situation == QLatin1String("null")) {
        device = QStringLiteral("/dev/null");
    } else if (situation.startsWith(QLatin1String("stdin"))) {
        // The pseudo-terminal becomes this process's standard input for the row.
        savedStdin = ::dup(STDIN_FILENO);
        QVERIFY(::dup2(pty.slave(), STDIN_FILENO) == STDIN_FILENO);
        device = pty.slavePath();
        if (situation == QLatin1String("stdin-link")) {
            device = dir.filePath(QStringLiteral("ttyStdin"));
            QVERIFY(QFile::link(pty.slavePath(), device));
        }
    } else {
        device = dir.path();
    }

    SerialPortControl control(pass, [&](int) { return device; });
    for (int attempt = 1; attempt <= 2; ++attempt) { // a failed open leaves things as they were
        QVERIFY(!control.setPortOpen(true));
        QVERIFY(!control.PortOpen());
        QCOMPARE(control.openFailure(), failure);
        const QString text = control.openFailureText();
        QVERIFY2(text.contains(device), qPrintable(text));
        QVERIFY2(text.contains(reason, Qt::CaseInsensitive), qPrintable(text));
        QVERIFY2(text.size() > device.size() + 5, qPrintable(text)); // names a reason, too
        // The reason alone, for messages that name the port themselves.
        const QString why = control.openFailureReason();
        QVERIFY2(!why.isEmpty() && !why.contains(device), qPrintable(why));
    }
    termios lineAfter{};
    ::tcgetattr(pty.slave(), &lineAfter);
    QCOMPARE(lineAfter.c_lflag, lineBefore.c_lflag); // a refused open left the line alone

    if (holder || otherProgram) {
        // The holder still owns a working line: the refused open took nothing from it.
        if (holder) {
            holder->Output("UP");
        } else {
            otherProgram->write("UP");
            QVERIFY(otherProgram->waitForBytesWritten(1000));
        }
        QCOMPARE(pty.read(2, 1000), QByteArray("UP"));
        // Once the holder lets go, the port opens.
        holder.reset();
        otherProgram.reset();
        QVERIFY2(control.setPortOpen(true), qPrintable(control.openFailureText()));
        QVERIFY(control.PortOpen());
        QCOMPARE(control.openFailure(), OpenFailure::None);
    }
}

void TestSerialPortControl::hangUp_data() {
    QTest::addColumn<QString>("when");
    QTest::newRow("idle, after an exchange") << "idle";
    QTest::newRow("while Output waits for the peer") << "output";
    QTest::newRow("right after the peer sent") << "sent";
}

void TestSerialPortControl::hangUp() {
    QFETCH(QString, when);
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText() + rig.pty.error()));
    QVERIFY(rig.pty.write("OK"));
    QVERIFY(rig.waitReceived(2));
    rig.control.Output("AB");
    QCOMPARE(rig.pty.read(2, 1000), QByteArray("AB"));

    if (when == QLatin1String("output")) {
        // The peer stops reading; it hangs up while the control waits to get blocks out.
        QTimer::singleShot(100, &rig.control, [&] { rig.pty.closeMaster(); });
        // Should Output never come back, closing the port from here lets it.
        bool rescued = false;
        QTimer::singleShot(2000, &rig.control, [&] {
            rescued = rig.control.PortOpen();
            rig.control.setPortOpen(false);
        });
        QList<QByteArray> blocks;
        for (int k = 0; k < 8; ++k)
            blocks << block(k);
        QVERIFY2(!rig.outputAll(blocks), "Output held the thread without running the event loop");
        QVERIFY2(!rescued, "Output kept waiting on a lost line");
    } else {
        if (when == QLatin1String("sent"))
            QVERIFY(rig.pty.write("EN"));
        rig.pty.closeMaster();
    }
    QVERIFY(QTest::qWaitFor([&] { return rig.linesLost > 0; }, 1000));

    QVERIFY(!rig.control.PortOpen());
    QCOMPARE(rig.control.CommEvent(), SerialControl::comEventLineLost);
    QCOMPARE(rig.commEvents.count(SerialControl::comEventLineLost), 1);
    QCOMPARE(rig.commEvents.last(), SerialControl::comEventLineLost);

    // From now on Output takes nothing, waits for nothing and reports nothing.
    const qsizetype eventsSoFar = rig.commEvents.size();
    QElapsedTimer clock;
    clock.start();
    rig.control.Output("OK\x02");
    rig.control.Output(block(0));
    QVERIFY(clock.elapsed() < 100);
    QVERIFY(rig.control.Input().isEmpty());

    // The lost line does not keep the process busy.
    const double cpuBefore = cpuSeconds();
    clock.restart();
    while (clock.elapsed() < 1000)
        rig.pass.runOnce(10);
    const double cpuUsed = cpuSeconds() - cpuBefore;
    qInfo("CPU time in 1 s of event loop after the hang-up: %.3f s", cpuUsed);
    QVERIFY2(cpuUsed < 0.2, qPrintable(QStringLiteral("%1 s of CPU").arg(cpuUsed)));
    QCOMPARE(rig.linesLost, 1);
    QCOMPARE(rig.commEvents.size(), eventsSoFar);
    QVERIFY(!rig.control.PortOpen());
}

void TestSerialPortControl::portMapping_data() {
    QTest::addColumn<QByteArray>("settings"); // no file when null
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("device");
    const QByteArray ports("[Settings]\nCOM-Port=3\n\n[Ports]\nCOM1=/dev/ttyUSB0\n"
                           "COM3=/dev/serial/by-id/usb-Kestrune_Module-if00-port0\nCOM4=\n");
    QTest::newRow("mapped port 1") << ports << 1 << "/dev/ttyUSB0";
    QTest::newRow("mapped port 3") << ports << 3 << "/dev/serial/by-id/usb-Kestrune_Module-if00-port0";
    QTest::newRow("port 2 without a key") << ports << 2 << "/dev/ttyS1";
    QTest::newRow("port 4 with an empty value") << ports << 4 << "";
    QTest::newRow("port 9 without a key") << ports << 9 << "/dev/ttyS8";
    QTest::newRow("key outside [Ports]")
        << QByteArray("[Settings]\nCOM1=/dev/ttyUSB5\n") << 1 << "/dev/ttyS0";
    QTest::newRow("no settings file") << QByteArray() << 1 << "/dev/ttyS0";
    QTest::newRow("comma and semicolon in the path")
        << QByteArray("[Ports]\r\nCOM1 = /dev/serial/by-id/usb-FTDI_FT232R,_ser;x-if00-port0 \r\n") << 1
        << "/dev/serial/by-id/usb-FTDI_FT232R,_ser;x-if00-port0";
}

void TestSerialPortControl::portMapping() {
    QFETCH(QByteArray, settings);
    QFETCH(int, port);
    QFETCH(QString, device);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Kestrune_Update_Utility.ini"));
    if (!settings.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settings);
    }
    QCOMPARE(applyPortAssignment(path, FakeDeviceListing()).map.deviceFor(port), device);
    // With no device present, [Ports] is read, never written.
    QFile file(path);
    if (settings.isNull()) {
        QVERIFY(!file.exists());
    } else {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), settings);
    }
}

void TestSerialPortControl::opensTheDeviceMappedForItsPort() {
    Pty pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString settings = dir.filePath(QStringLiteral("Kestrune_Update_Utility.ini"));
    const QString missing = dir.filePath(QStringLiteral("ttyUSB3"));
    {
        QFile file(settings);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Ports]\nCOM4=" + QFile::encodeName(pty.slavePath()) +
                   "\nCOM5=" + QFile::encodeName(missing) + "\n");
    }
    QtEventPass pass;
    const PortMap ports = applyPortAssignment(settings, FakeDeviceListing()).map;
    SerialPortControl control(pass, [&](int port) { return ports.deviceFor(port); });

    control.setCommPort(5);
    QVERIFY(!control.setPortOpen(true));
    QCOMPARE(control.openFailure(), OpenFailure::Absent);
    QVERIFY2(control.openFailureText().contains(missing), qPrintable(control.openFailureText()));

    control.setCommPort(4);
    QVERIFY2(control.setPortOpen(true), qPrintable(control.openFailureText()));
    control.Output("UP");
    QCOMPARE(pty.read(2, 1000), QByteArray("UP"));
    QVERIFY(control.setPortOpen(false));
    QVERIFY(!control.PortOpen());
}

QTEST_GUILESS_MAIN(TestSerialPortControl)
#include "tst_serial_port_control.moc"
