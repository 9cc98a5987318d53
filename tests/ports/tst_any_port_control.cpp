// The one control a front end holds: a COM number switching between a local pseudo-terminal and a
// loopback server, open failures and lost lines forwarded from whichever control is in use, and
// what the port map and the tooltip say of a network address.

#include "AnyPortControl.h"
#include "LineSettings.h"
#include "PortAssignment.h"
#include "Pty.h"
#include "QtEventPass.h"
#include "SystemClock.h"
#include "TelnetCodec.h"

#include <QMap>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

Q_DECLARE_METATYPE(SerialControl::OpenFailure)

namespace {

using OpenFailure = SerialControl::OpenFailure;

// COM2 is a pseudo-terminal; COM5 a loopback server of the row's scheme; other numbers what
// the row writes into `names`.
struct Bench {
    Pty pty;
    QTcpServer server;
    QPointer<QTcpSocket> peer;
    QByteArray wire;
    SystemClock clock;
    QtEventPass pass;
    QMap<int, QString> names;
    QByteArray received;
    QList<int> events;
    int linesLost = 0;
    std::unique_ptr<AnyPortControl> control;

    explicit Bench(const QString& scheme) {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            peer = server.nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, [this] { wire += peer->readAll(); });
        });
        names[2] = pty.slavePath();
        names[5] = QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(server.serverPort());
        control = makeAnyPortControl(pass, clock, [this](int com) { return names.value(com); });
        ModuleLine::apply(*control);
        QObject::connect(control.get(), &SerialControl::OnComm, [this] {
            events << control->CommEvent();
            if (control->CommEvent() == SerialControl::comEvReceive)
                received += control->Input();
        });
        QObject::connect(control.get(), &SerialControl::lineLost, [this] { ++linesLost; });
    }
    bool open(int com) {
        control->setCommPort(com);
        return control->setPortOpen(true);
    }
};

} // namespace

class TestAnyPortControl : public QObject {
    Q_OBJECT
private slots:
    void switchesBetweenLocalAndNetwork_data();
    void switchesBetweenLocalAndNetwork();
    void oneLineAtATime_data();
    void oneLineAtATime();
    void openFailuresForwarded_data();
    void openFailuresForwarded();
    void lostLineForwarded_data();
    void lostLineForwarded();
    void networkAddressInThePortMap_data();
    void networkAddressInThePortMap();
};

void TestAnyPortControl::switchesBetweenLocalAndNetwork_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QList<int>>("order");
    QTest::newRow("local, raw, local") << "socket" << QList<int>{2, 5, 2};
    QTest::newRow("RFC 2217, local, RFC 2217") << "rfc2217" << QList<int>{5, 2, 5};
}

void TestAnyPortControl::switchesBetweenLocalAndNetwork() {
    QFETCH(QString, scheme);
    QFETCH(QList<int>, order);
    Bench bench(scheme);
    QVERIFY2(bench.pty.isValid(), qPrintable(bench.pty.error()));
    const bool telnet = scheme == QLatin1String("rfc2217");
    for (int step = 0; step < order.size(); ++step) {
        const int com = order[step];
        QVERIFY2(bench.open(com), qPrintable(bench.control->openFailureText()));
        QVERIFY(bench.control->PortOpen());
        QCOMPARE(bench.control->describePort(), QStringLiteral("Com%1 (%2)").arg(com).arg(bench.names[com]));
        const QByteArray text = QByteArray("step") + QByteArray::number(step) + "\xff\x00" + char(com);
        bench.received.clear();
        bench.control->Output(text);
        if (com == 2) {
            QCOMPARE(bench.pty.read(text.size(), 3000).toHex(' '), text.toHex(' '));
            QVERIFY(bench.pty.write("OK"));
        } else {
            QVERIFY(QTest::qWaitFor([&] { return !bench.peer.isNull(); }, 3000));
            // Each open is a new connection: an RFC 2217 one starts with the offer and settings.
            const QByteArray wanted = telnet ? TelnetCodec().start() + TelnetCodec::escape(text) : text;
            QVERIFY(QTest::qWaitFor([&] { return bench.wire.size() >= wanted.size(); }, 3000));
            QCOMPARE(bench.wire.toHex(' '), wanted.toHex(' '));
            bench.peer->write("OK");
            bench.peer->flush();
        }
        QVERIFY(QTest::qWaitFor([&] { return bench.received.size() >= 2; }, 3000));
        QCOMPARE(bench.received, QByteArray("OK"));
        QVERIFY(bench.control->setPortOpen(false));
        QVERIFY(!bench.control->PortOpen());
        if (com == 5) {
            // The connection ends with the close, so the next open of COM5 is a new one.
            QVERIFY(QTest::qWaitFor(
                [&] { return bench.peer.isNull() || bench.peer->state() != QAbstractSocket::ConnectedState; },
                3000));
            bench.wire.clear();
            delete bench.peer;
        }
    }
    QCOMPARE(bench.linesLost, 0);
    QCOMPARE(bench.events.count(SerialControl::comEvReceive), bench.events.size());
}

void TestAnyPortControl::oneLineAtATime_data() {
    // "left": COM5's connection is left open on the network control, as an open that a nested
    // choice interrupted leaves it; "moved": COM5 is open and the map gives it another server.
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("next"); // 6: a second server; 2: the pseudo-terminal; 5: COM5 again
    QTest::newRow("connection left, another network COM chosen") << "left" << 6;
    QTest::newRow("connection left, a local COM chosen") << "left" << 2;
    QTest::newRow("COM5 moved to another server while open") << "moved" << 5;
}

// Whatever the first rack's connection was left in, the next choice's bytes reach only the
// next port, and the first connection ends.
void TestAnyPortControl::oneLineAtATime() {
    QFETCH(QString, before);
    QFETCH(int, next);
    Bench bench(QStringLiteral("socket"));
    QVERIFY2(bench.pty.isValid(), qPrintable(bench.pty.error()));
    QTcpServer second;
    QVERIFY(second.listen(QHostAddress::LocalHost, 0));
    const QString secondAddress = QStringLiteral("socket://127.0.0.1:%1").arg(second.serverPort());
    bench.names[6] = secondAddress;
    if (before == QLatin1String("left")) {
        bench.control->networkControl().setCommPort(5);
        QVERIFY(bench.control->networkControl().setPortOpen(true));
    } else {
        QVERIFY(bench.open(5));
        bench.names[5] = secondAddress;
    }
    QVERIFY(QTest::qWaitFor([&] { return !bench.peer.isNull(); }, 3000));
    QVERIFY2(bench.open(next), qPrintable(bench.control->openFailureText()));
    bench.control->Output("NEXT");
    if (next == 2) {
        QCOMPARE(bench.pty.read(4, 3000), QByteArray("NEXT"));
    } else {
        QVERIFY(QTest::qWaitFor([&] { return second.hasPendingConnections(); }, 3000));
        QTcpSocket* peer = second.nextPendingConnection();
        QVERIFY(QTest::qWaitFor([&] { return peer->bytesAvailable() >= 4; }, 3000));
        QCOMPARE(peer->readAll(), QByteArray("NEXT"));
    }
    QVERIFY(QTest::qWaitFor([&] { return bench.peer->state() != QAbstractSocket::ConnectedState; }, 3000));
    QCOMPARE(bench.wire, QByteArray());
    QVERIFY(!bench.control->networkControl().PortOpen() || next != 2);
    QCOMPARE(bench.linesLost, 0);
}

void TestAnyPortControl::openFailuresForwarded_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<OpenFailure>("failure");
    QTest::addColumn<QString>("text");   // the start of openFailureText
    QTest::addColumn<QString>("reason"); // the start of openFailureReason
    QTest::newRow("absent device") << "/dev/no-such-tty" << OpenFailure::Absent
                                   << "/dev/no-such-tty does not exist"
                                   << "it does not exist";
    QTest::newRow("unknown scheme") << "telnet://127.0.0.1:23" << OpenFailure::Other
                                    << "unknown scheme \"telnet\""
                                    << "unknown scheme \"telnet\"";
    QTest::newRow("refused") << "socket://127.0.0.1:%1" << OpenFailure::Absent
                             << "socket://127.0.0.1:%1 refused the connection"
                             << "the connection was refused (nothing listens on port %1 of 127.0.0.1)";
    QTest::newRow("does not resolve")
        << "rfc2217://rack.invalid:4001" << OpenFailure::Absent
        << "rfc2217://rack.invalid:4001: the host name rack.invalid does not resolve"
        << "the host name rack.invalid does not resolve";
    QTest::newRow("control characters in the host")
        << "rfc2217://rack\x1b.x:4001" << OpenFailure::Other << "\"rack\\x1b.x\" in"
        << "\"rack\\x1b.x\" in";
}

void TestAnyPortControl::openFailuresForwarded() {
    QFETCH(QString, name);
    QFETCH(OpenFailure, failure);
    QFETCH(QString, text);
    QFETCH(QString, reason);
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString port = QString::number(closed.serverPort());
    closed.close();
    Bench bench(QStringLiteral("socket"));
    // A good open first, so that a failure after it is the new port's, not a leftover.
    QVERIFY(bench.open(5));
    QVERIFY(bench.control->setPortOpen(false));
    bench.names[7] = QString(name).replace(QLatin1String("%1"), port);
    QVERIFY(!bench.open(7));
    QVERIFY(!bench.control->PortOpen());
    QCOMPARE(bench.control->openFailure(), failure);
    QVERIFY2(bench.control->openFailureText().startsWith(QString(text).replace("%1", port)),
             qPrintable(bench.control->openFailureText()));
    QVERIFY2(bench.control->openFailureReason().startsWith(QString(reason).replace("%1", port)),
             qPrintable(bench.control->openFailureReason()));
    // The next good open clears it.
    QVERIFY(bench.open(2));
    QCOMPARE(bench.control->openFailure(), OpenFailure::None);
}

void TestAnyPortControl::lostLineForwarded_data() {
    QTest::addColumn<int>("com");
    QTest::newRow("local line hung up") << 2;
    QTest::newRow("network connection closed") << 5;
}

void TestAnyPortControl::lostLineForwarded() {
    QFETCH(int, com);
    Bench bench(QStringLiteral("rfc2217"));
    QVERIFY2(bench.open(com), qPrintable(bench.control->openFailureText()));
    if (com == 2) {
        bench.pty.closeMaster();
    } else {
        QVERIFY(QTest::qWaitFor([&] { return !bench.peer.isNull(); }, 3000));
        // Under way: a close before the module's first answer was due would be made again.
        bench.control->Output("XX");
        QTest::qWait(250);
        bench.peer->close();
    }
    QVERIFY(QTest::qWaitFor([&] { return bench.linesLost > 0; }, 3000));
    QTest::qWait(50);
    QCOMPARE(bench.linesLost, 1);
    QCOMPARE(bench.events.last(), SerialControl::comEventLineLost);
    QVERIFY(!bench.control->PortOpen());
    bench.control->Output("late"); // a closed port takes nothing
    QCOMPARE(bench.control->Input(), QByteArray());
}

void TestAnyPortControl::networkAddressInThePortMap_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("RFC 2217") << "rfc2217://rack2.bench:4001"
                              << "RFC 2217 port on host rack2.bench, TCP port 4001";
    QTest::newRow("raw, IPv6") << "socket://[::1]:7000"
                               << "raw TCP port on host ::1, TCP port 7000";
    QTest::newRow("control characters escaped")
        << "socket://rack\x1b[2J:23"
        << "\"rack\\x1b[2J\" in \"socket://rack\\x1b[2J:23\" is not a host name or address";
}

void TestAnyPortControl::networkAddressInThePortMap() {
    QFETCH(QString, value);
    QFETCH(QString, toolTip);
    PortMap map;
    map.lines.insert(5, value);
    map.present.append(
        {QStringLiteral("/dev/null"), QStringLiteral("/dev/null"), QStringLiteral("Null"), {}, {}});
    QCOMPARE(map.deviceFor(5), value);
    QCOMPARE(map.toolTip(5), toolTip);
    SystemClock clock;
    QtEventPass pass;
    AnyPortControl control(pass, clock, [&map](int com) { return map.deviceFor(com); });
    QVERIFY(control.isNetworkPort(5));
    QVERIFY(!control.isNetworkPort(1));
    QCOMPARE(control.portDetails(5), toolTip);
    control.setConnectLimitMs(1000);
    QCOMPARE(control.connectLimitMs(), 1000);
    QCOMPARE(control.networkControl().connectLimitMs(), 1000);
}

QTEST_GUILESS_MAIN(TestAnyPortControl)
#include "tst_any_port_control.moc"
