// The serial control over TCP against a server on the loopback: the bytes both ways, the open
// failures with their reasons, a server that goes away, the port's details, and Output paced
// on the simulated clock.

#include "LinePacer.h"
#include "LineSettings.h"
#include "NetworkControl.h"
#include "ProxyInTheEnvironment.h"
#include "QtEventPass.h"
#include "SilentListener.h"
#include "SimWorld.h"
#include "SystemClock.h"
#include "UpdateEngine.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QtTest>
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SerialControl::OpenFailure)

namespace {

using OpenFailure = SerialControl::OpenFailure;
constexpr int blockSize = ModuleLine::OutBufferSize;

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray everyByteValue(int shift = 0) {
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i + shift);
    return bytes;
}

// The server's end: a loopback listener that keeps what it reads. The control under test, set
// up as a front end sets it up, takes everything at each receive event as the engine does.
struct Rig {
    QTcpServer server;
    QPointer<QTcpSocket> peer;
    QByteArray wire;
    SystemClock clock;
    QtEventPass pass;
    QString address;
    QByteArray received;
    QList<int> commEvents;
    int linesLost = 0;
    // Runs after each receive event was taken, when set.
    std::function<void()> whileReceiving;
    NetworkControl control;

    explicit Rig(const QString& scheme, EventPass* events = nullptr, const Clock* time = nullptr)
        : control(events ? *events : pass, time ? *time : clock, [this](int) { return address; }) {
        server.listen(QHostAddress::LocalHost, 0);
        address = QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(server.serverPort());
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            peer = server.nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, [this] { wire += peer->readAll(); });
        });
        ModuleLine::apply(control);
        control.setCommPort(5);
        QObject::connect(&control, &SerialControl::OnComm, [this] {
            commEvents << control.CommEvent();
            if (control.CommEvent() == SerialControl::comEvReceive)
                received += control.Input();
            if (whileReceiving)
                whileReceiving();
        });
        QObject::connect(&control, &SerialControl::lineLost, [this] { ++linesLost; });
    }
    bool open() {
        return control.setPortOpen(true) && QTest::qWaitFor([this] { return !peer.isNull(); }, 3000);
    }
    void send(const QByteArray& bytes) {
        peer->write(bytes);
        peer->flush();
    }
    // The session is under way: an announcement went out and the module's first answer was due.
    void underWay() {
        control.Output(QByteArray("OK\x03"));
        QTest::qWait(int(NetworkControl::FirstAnswerDueSeconds * 1000) + 50);
    }
};

// Real while the connection is made, then simulated time that moves on with every pass, the
// socket's pending events handled on each.
struct SimulatedNetworkPass : EventPass {
    SimWorld world;
    QtEventPass real;
    bool simulated = false;
    void runOnce(int maxSleepMs) override {
        if (!simulated)
            return real.runOnce(maxSleepMs);
        QCoreApplication::processEvents();
        world.runOnce(maxSleepMs);
    }
    void runPending() override { QCoreApplication::processEvents(); }
};

} // namespace

class TestNetworkControl : public QObject {
    Q_OBJECT
private slots:
    void addressForms_data();
    void addressForms();
    void bytesBothWays_data();
    void bytesBothWays();
    void openFailures_data();
    void openFailures();
    void knownAddressesInsteadOfALookUp_data();
    void knownAddressesInsteadOfALookUp();
    void aFloodKeepsOnlyTheNewestBytes_data();
    void aFloodKeepsOnlyTheNewestBytes();
    void serverGoesAway_data();
    void serverGoesAway();
    void binaryAgreement_data();
    void binaryAgreement();
    void portDetails_data();
    void portDetails();
    void outputIsPacedOnTheLineClock_data();
    void outputIsPacedOnTheLineClock();
};

void TestNetworkControl::addressForms_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown"); // "" when not a network port, else the reason's start when it fails
    QTest::newRow("IPv6 in brackets") << "socket://[fe80::1]:23"
                                      << "socket://[fe80::1]:23";
    QTest::newRow("scheme in capitals") << "RFC2217://Rack2.bench:65535/"
                                        << "rfc2217://Rack2.bench:65535";
    QTest::newRow("a device path is not one") << "/dev/serial/by-id/usb-FTDI_x:y-if00"
                                              << "";
    QTest::newRow("IPv6 without brackets") << "socket://fe80::1:23"
                                           << "an IPv6 address is written in brackets";
    QTest::newRow("control characters") << "socket://rack\x1b[2J:23"
                                        << "\"rack\\x1b[2J\" in \"socket://rack\\x1b";
}

void TestNetworkControl::addressForms() {
    QFETCH(QString, text);
    QFETCH(QString, shown);
    NetworkPortAddress address;
    QString why;
    QCOMPARE(looksLikeNetworkPort(text), !shown.isEmpty());
    const bool parsed = parseNetworkPort(text, &address, &why);
    QCOMPARE(parsed ? address.text() : why.left(shown.size()), shown);
}

void TestNetworkControl::bytesBothWays_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QByteArray>("serverSends");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("answered"); // by the control after the data, for the server
    QTest::addColumn<bool>("byName");         // the host's own name, with an HTTP proxy in the environment
    QTest::newRow("raw: Telnet bytes stay as they are")
        << "socket" << everyByteValue() << everyByteValue() << QByteArray() << false;
    QTest::newRow("RFC 2217: doubled 0xFF undone, options answered")
        << "rfc2217" << hex("4f ff ff ff fd 2c ff fb 00 ff fa 2c 65 00 01 c2 00 ff f0 ff fb 18 4b")
        << hex("4f ff 4b") << hex("ff fe 18") << false;
    // The operator wrote the rack's address: an http_proxy of the session is not taken.
    QTest::newRow("RFC 2217 by host name, http_proxy set")
        << "rfc2217" << hex("4f 4b") << hex("4f 4b") << QByteArray() << true;
}

void TestNetworkControl::bytesBothWays() {
    QFETCH(QString, scheme);
    QFETCH(QByteArray, serverSends);
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, answered);
    QFETCH(bool, byName);
    const QString name = byName ? ownResolvableName() : QString();
    if (byName && name.isEmpty())
        QSKIP("this machine's name does not resolve");
    std::unique_ptr<ProxyInTheEnvironment> proxy(byName ? new ProxyInTheEnvironment : nullptr);
    Rig rig(scheme);
    if (byName) {
        // Whatever address the name resolves to, the server is there.
        rig.server.close();
        QVERIFY(rig.server.listen(QHostAddress::Any, 0));
        rig.address = QStringLiteral("%1://%2:%3").arg(scheme, name).arg(rig.server.serverPort());
    }
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText()));
    QCOMPARE(proxy ? proxy->connections : 0, 0);
    const QList<QByteArray> texts{QByteArray("OK\xff"), QByteArray(1, '\0'), everyByteValue(7),
                                  QByteArray(blockSize, '\xff')};
    QByteArray wire = scheme == QLatin1String("rfc2217") ? TelnetCodec().start() : QByteArray();
    for (const QByteArray& text : texts) {
        rig.control.Output(text);
        wire += scheme == QLatin1String("rfc2217") ? TelnetCodec::escape(text) : text;
    }
    QVERIFY(QTest::qWaitFor([&] { return rig.wire.size() >= wire.size(); }, 3000));
    rig.send(serverSends);
    QVERIFY(QTest::qWaitFor([&] { return rig.received.size() >= received.size(); }, 3000));
    QTest::qWait(30); // nothing more may follow
    QCOMPARE(rig.received.toHex(' '), received.toHex(' '));
    QVERIFY(rig.wire == wire + answered);
    QCOMPARE(rig.commEvents.count(SerialControl::comEvReceive), rig.commEvents.size());
    QCOMPARE(rig.control.describePort(), QStringLiteral("Com5 (%1)").arg(rig.address));

    // Short answers go out at once, and a silent server is found by the kernel within 10 s.
    int option = 0;
    unsigned userTimeout = 0;
    socklen_t size = sizeof option;
    QCOMPARE(::getsockopt(int(rig.control.socketDescriptor()), IPPROTO_TCP, TCP_NODELAY, &option, &size), 0);
    size = sizeof userTimeout;
    QCOMPARE(
        ::getsockopt(int(rig.control.socketDescriptor()), IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, &size),
        0);
    QCOMPARE(option, 1);
    QCOMPARE(userTimeout, 10000u);
}

void TestNetworkControl::openFailures_data() {
    QTest::addColumn<QString>("address"); // %1: a closed port, %2: a silent one
    QTest::addColumn<int>("limitMs");     // 0: the default
    QTest::addColumn<OpenFailure>("failure");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown scheme") << "telnet://127.0.0.1:23" << 0 << OpenFailure::Other
                                    << "unknown scheme \"telnet\" in \"telnet://127.0.0.1:23\"";
    QTest::newRow("missing port") << "rfc2217://127.0.0.1" << 0 << OpenFailure::Other << "no port number";
    QTest::newRow("port 0") << "socket://127.0.0.1:0" << 0 << OpenFailure::Other << "bad port number \"0\"";
    QTest::newRow("port 70000") << "socket://h:70000" << 0 << OpenFailure::Other
                                << "bad port number \"70000\"";
    QTest::newRow("a name that does not resolve")
        << "rfc2217://no-such-host.invalid:4001" << 0 << OpenFailure::Absent
        << "rfc2217://no-such-host.invalid:4001: the host name no-such-host.invalid does not resolve";
    QTest::newRow("refused") << "socket://127.0.0.1:%1" << 0 << OpenFailure::Absent
                             << "socket://127.0.0.1:%1 refused the connection";
    QTest::newRow("silent, the scan's limit") << "rfc2217://127.0.0.1:%2" << 1000 << OpenFailure::Absent
                                              << "rfc2217://127.0.0.1:%2 did not answer within 1 s";
}

void TestNetworkControl::openFailures() {
    QFETCH(QString, address);
    QFETCH(int, limitMs);
    QFETCH(OpenFailure, failure);
    QFETCH(QString, reason);
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 closedPort = closed.serverPort();
    closed.close();
    SilentListener silent;
    const bool isSilent = address.contains(QLatin1String("%2"));
    QVERIFY2(!isSilent || silent.full, "could not fill the listener's queue");
    const auto fill = [&](QString text) {
        return text.replace(QLatin1String("%1"), QString::number(closedPort))
            .replace(QLatin1String("%2"), QString::number(silent.port));
    };
    Rig rig{QString()};
    rig.address = fill(address);
    QCOMPARE(rig.control.connectLimitMs(), NetworkControl::DefaultConnectLimitMs);
    if (limitMs > 0)
        rig.control.setConnectLimitMs(limitMs);
    const int limit = limitMs > 0 ? limitMs : 3000;
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    for (int attempt = 1; attempt <= 2; ++attempt) { // a failed open leaves things as they were
        QElapsedTimer took;
        took.start();
        QVERIFY(!rig.control.setPortOpen(true));
        const qint64 ms = took.elapsed();
        QVERIFY(!rig.control.PortOpen());
        QCOMPARE(rig.control.openFailure(), failure);
        QVERIFY2(rig.control.openFailureText().contains(fill(reason)),
                 qPrintable(rig.control.openFailureText()));
        QVERIFY2(isSilent ? ms >= limit - 20 && ms < limit + 700 : ms < 500, qPrintable(QString::number(ms)));
        // The window stayed alive while it waited.
        QVERIFY2(!isSilent || ticks >= limit / 40 * attempt,
                 qPrintable(QStringLiteral("%1 ticks").arg(ticks)));
    }
    QVERIFY(rig.commEvents.isEmpty());
}

void TestNetworkControl::knownAddressesInsteadOfALookUp_data() {
    QTest::addColumn<QStringList>("known"); // the server listens on 127.0.0.1 only
    QTest::addColumn<bool>("opens");
    QTest::newRow("the server's address") << QStringList{"127.0.0.1"} << true;
    QTest::newRow("the next one after a refusal") << QStringList{"127.0.0.2", "127.0.0.1"} << true;
    QTest::newRow("only addresses that refuse") << QStringList{"127.0.0.2"} << false;
}

// A name the check for one line already looked up is not looked up again: the connection goes
// to the addresses it found, one after the other, and fails as the last one failed.
void TestNetworkControl::knownAddressesInsteadOfALookUp() {
    QFETCH(QStringList, known);
    QFETCH(bool, opens);
    Rig rig{QString()};
    rig.address = QStringLiteral("socket://rack2.bench:%1").arg(rig.server.serverPort());
    QList<QHostAddress> addresses;
    for (const QString& address : known)
        addresses << QHostAddress(address);
    rig.control.setKnownAddresses(QStringLiteral("rack2.bench"), addresses);
    QCOMPARE(rig.open(), opens);
    if (!opens)
        QVERIFY2(rig.control.openFailureText().contains(
                     QStringLiteral("socket://rack2.bench:%1 refused the connection")
                         .arg(rig.server.serverPort())),
                 qPrintable(rig.control.openFailureText()));
}

void TestNetworkControl::aFloodKeepsOnlyTheNewestBytes_data() {
    QTest::addColumn<QString>("scheme");
    QTest::newRow("raw") << "socket";
    QTest::newRow("RFC 2217, every 0xFF doubled") << "rfc2217";
}

// A server that sends without end while nothing reads (the threshold is 0 outside a session)
// costs at most the kept bytes, and those are the newest.
void TestNetworkControl::aFloodKeepsOnlyTheNewestBytes() {
    QFETCH(QString, scheme);
    Rig rig(scheme);
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText()));
    rig.control.setRThreshold(0);
    const QByteArray flood = everyByteValue().repeated(8 * 4096); // 8 MiB
    qsizetype most = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, [&] { most = qMax(most, rig.control.pendingSize()); });
    sampler.start(1);
    rig.send(scheme == QLatin1String("rfc2217") ? TelnetCodec::escape(flood) : flood);
    QVERIFY(QTest::qWaitFor([&] { return rig.peer->bytesToWrite() == 0; }, 20000));
    QTest::qWait(200); // what the kernel still holds is read
    most = qMax(most, rig.control.pendingSize());
    QVERIFY2(most <= 64 * 1024, qPrintable(QString::number(most)));
    QCOMPARE(rig.control.pendingSize(), 64 * 1024);
    QVERIFY(rig.control.Input() == flood.right(64 * 1024));
    QVERIFY(rig.control.PortOpen());
    QVERIFY(rig.commEvents.isEmpty());
}

void TestNetworkControl::serverGoesAway_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("how");
    QTest::newRow("raw: reset while idle") << "socket"
                                           << "reset";
    QTest::newRow("RFC 2217: closed right after sending") << "rfc2217"
                                                          << "sent";
    QTest::newRow("RFC 2217: closed while Output waits for the line") << "rfc2217"
                                                                      << "output";
    // In text mode the server could drop the 00 of an image's 0D 00: the client ends it.
    QTest::newRow("RFC 2217: the server refuses BINARY (WONT)") << "rfc2217"
                                                                << "refuse ff fc 00";
    QTest::newRow("RFC 2217: the server refuses our BINARY (DONT)") << "rfc2217"
                                                                    << "refuse ff fe 00";
    // The end mark and the close reach the client while it still handles the bytes before them,
    // so no read event announces the mark: only the read before the close hands it on.
    QTest::newRow("raw: sent and closed while a receive is still handled") << "socket"
                                                                           << "nested";
}

void TestNetworkControl::serverGoesAway() {
    QFETCH(QString, scheme);
    QFETCH(QString, how);
    Rig rig(scheme);
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText()));
    rig.underWay();
    QElapsedTimer took;
    took.start();
    bool handled = false;
    if (how == QLatin1String("nested")) {
        rig.whileReceiving = [&] {
            if (std::exchange(handled, true))
                return;
            rig.send("EN");
            rig.peer->close();
            QTest::qWait(200);
        };
        rig.send("OK");
    } else if (how == QLatin1String("output")) {
        QTimer::singleShot(200, rig.peer, [&] { rig.peer->close(); });
        for (int k = 0; k < 3; ++k) // the third waits for a block's line time
            rig.control.Output(QByteArray(blockSize, char(k)));
    } else if (how == QLatin1String("reset")) {
        rig.peer->abort();
    } else if (how.startsWith(QLatin1String("refuse"))) {
        rig.send(QByteArray::fromHex(how.mid(7).toLatin1()) + "EN");
    } else {
        rig.send("EN");
        rig.peer->close();
    }
    QVERIFY(QTest::qWaitFor([&] { return rig.linesLost > 0; }, 2000));
    QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
    QCOMPARE(rig.received, QByteArray(how == QLatin1String("sent")     ? "EN"
                                      : how == QLatin1String("nested") ? "OKEN"
                                                                       : ""));
    QVERIFY(!rig.control.PortOpen());
    QCOMPARE(rig.commEvents.last(), SerialControl::comEventLineLost);
    QCOMPARE(rig.control.CommEvent(), SerialControl::comEventLineLost);
    const bool refused = how.startsWith(QLatin1String("refuse"));
    QCOMPARE(rig.control.lineLossCause(), refused ? QStringLiteral("the server refused binary transmission")
                                                  : QStringLiteral("the connection was closed, reset or "
                                                                   "stopped answering"));
    // The client ended the connection itself.
    QVERIFY(QTest::qWaitFor(
        [&] { return rig.peer.isNull() || rig.peer->state() != QAbstractSocket::ConnectedState; }, 2000));

    // From now on Output takes nothing, waits for nothing and reports nothing.
    const QList<int> events = rig.commEvents;
    took.restart();
    rig.control.Output(QByteArray(3 * blockSize, 'x'));
    QVERIFY(took.elapsed() < 100);
    QVERIFY(rig.control.Input().isEmpty());
    QTest::qWait(50);
    QCOMPARE(rig.commEvents, events);
    QCOMPARE(rig.linesLost, 1);
}

void TestNetworkControl::binaryAgreement_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<bool>("agreed");
    QTest::newRow("RFC 2217: never answers an option") << "rfc2217" << QByteArray() << false;
    QTest::newRow("RFC 2217: agrees only WILL BINARY") << "rfc2217" << hex("ff fb 00") << false;
    QTest::newRow("RFC 2217: agrees only DO BINARY") << "rfc2217" << hex("ff fd 00") << false;
    QTest::newRow("RFC 2217: agrees both ways") << "rfc2217" << hex("ff fd 00 ff fb 00") << true;
    QTest::newRow("RFC 2217: agrees, then WONT BINARY before any image byte")
        << "rfc2217" << hex("ff fb 00 ff fd 00 ff fc 00") << false;
}

// What the check before the announcement reads; the line itself stays: the probe is plain text.
void TestNetworkControl::binaryAgreement() {
    QFETCH(QString, scheme);
    QFETCH(QByteArray, answers);
    QFETCH(bool, agreed);
    Rig rig(scheme);
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText()));
    rig.control.Output(UpdateEngine::ModuleProbe);
    rig.send(answers + "AA");
    QVERIFY(QTest::qWaitFor([&] { return rig.received == "AA"; }, 2000));
    QCOMPARE(rig.control.refusesImageBytes(),
             agreed ? QString() : QStringLiteral("the server did not agree to binary transmission"));
    QVERIFY(rig.control.PortOpen());
    QCOMPARE(rig.linesLost, 0);
}

void TestNetworkControl::portDetails_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<QString>("details"); // after "<kind> port on host 127.0.0.1, TCP port <n>"
    const auto ack = [](int command, const char* value) {
        return hex("ff fa 2c") + char(command + 100) + hex(value) + hex("ff f0");
    };
    const QByteArray four = ack(1, "00 01 c2 00") + ack(2, "08") + ack(3, "01") + ack(4, "01");
    QTest::newRow("raw") << "socket" << QByteArray() << "";
    QTest::newRow("RFC 2217, flow control never acknowledged")
        << "rfc2217" << four
        << "; the server acknowledged 115200 baud, 8 data bits, no parity, 1 stop bit; "
           "not acknowledged: no flow control";
    QTest::newRow("RFC 2217, all, and a signature with control characters")
        << "rfc2217" << four + ack(5, "01") + hex("ff fa 2c 64 1b 5b 32 4a 0d 0a ff f0")
        << "; the server acknowledged 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control; "
           "server: \\x1b[2J\\x0d\\x0a";
}

void TestNetworkControl::portDetails() {
    QFETCH(QString, scheme);
    QFETCH(QByteArray, answers);
    QFETCH(QString, details);
    Rig rig(scheme);
    const QString head = QStringLiteral("%1 port on host 127.0.0.1, TCP port %2")
                             .arg(scheme == QLatin1String("socket") ? "raw TCP" : "RFC 2217")
                             .arg(rig.server.serverPort());
    QCOMPARE(rig.control.portDetails(), head);
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText()));
    rig.send(answers);
    const bool all = details.contains(QLatin1String("no flow control;"));
    QCOMPARE(rig.control.waitForAcknowledgements(300), all);
    // A missing acknowledgement is noted, not an error; the details outlive the connection.
    QVERIFY(rig.control.PortOpen());
    rig.control.setPortOpen(false);
    QCOMPARE(rig.control.portDetails(), head + details);
    QCOMPARE(rig.linesLost, 0);
}

void TestNetworkControl::outputIsPacedOnTheLineClock_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<int>("pauseMs"); // after a probe, before the sector
    QTest::newRow("raw") << "socket" << 0;
    // Doubled on the wire, an erased block is twice the bytes but the same line time.
    QTest::newRow("RFC 2217, erased flash") << "rfc2217" << 0;
    // The line was idle: that time is gone, not credit for the sector's blocks.
    QTest::newRow("raw, after 10 s of silence") << "socket" << 10000;
}

void TestNetworkControl::outputIsPacedOnTheLineClock() {
    QFETCH(QString, scheme);
    QFETCH(int, pauseMs);
    SimulatedNetworkPass pass;
    Rig rig(scheme, &pass, &pass.world);
    QVERIFY2(rig.open(), qPrintable(rig.control.openFailureText()));
    pass.simulated = true;
    if (pauseMs > 0) {
        rig.control.Output(UpdateEngine::ModuleProbe);
        pass.world.runOnce(pauseMs);
    }
    int sleeps = 0;
    pass.world.onSleep = [&](int) { ++sleeps; };
    const qint64 start = pass.world.now();
    // The socket takes every byte at once: only the line clock holds Output back. Each block
    // returns when no more than one block's line time is ahead, so the sector's last returns
    // three blocks' line time after its first byte, with one block still to go.
    for (int k = 0; k < ModuleLine::BlocksPerSector; ++k) {
        rig.control.Output(QByteArray(blockSize, '\xff'));
        const double want = k * LinePacer::lineSeconds(blockSize) * 1000.0;
        const qint64 now = pass.world.now() - start;
        QVERIFY2(now >= want && now <= want + 2,
                 qPrintable(QStringLiteral("block %1 at %2 ms").arg(k).arg(now)));
    }
    QVERIFY2(sleeps <= 8, qPrintable(QStringLiteral("%1 sleeps: it spins").arg(sleeps)));
    pass.simulated = false;
    const qsizetype onWire = (scheme == QLatin1String("rfc2217") ? 2 : 1) * 4 * blockSize +
                             (pauseMs > 0 ? UpdateEngine::ModuleProbe.size() : 0);
    QVERIFY(QTest::qWaitFor([&] { return rig.wire.size() >= onWire; }, 3000));
}

QTEST_GUILESS_MAIN(TestNetworkControl)
#include "tst_network_control.moc"
