// The real kestrune-update through a real ser2net, raw TCP and RFC 2217, module simulator at
// wire rate behind it: an image full of 0xFF delivered byte for byte, a server that dies
// mid-sector ending the session as a lost line, a device held through another accepter; and
// against Telnet servers that never agree to binary transmission, and nine silent network COMs.

#include "Ser2Net.h"
#include "SilentListener.h"
#include "SimulatorProcess.h"
#include "TelnetPeer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(Ser2Net::Kind)

namespace {

// One sector of padding, with the bytes a Telnet stream treats specially scattered through it:
// IAC commands and sub-negotiations, CR NUL and CR LF, NUL.
QByteArray paddedImage() {
    QByteArray image(65536, '\xff');
    const QByteArray awkward = QByteArray::fromHex("fffa2c0100fff0fffb01fffd03ff0d000d0a00fe");
    for (int at = 0; at + awkward.size() < image.size(); at += 4099)
        image.replace(at, awkward.size(), awkward);
    image[image.size() - 1] = '\x7f';
    return image;
}

struct NetworkBench {
    QTemporaryDir dir;
    SimulatorProcess simulator;
    Ser2Net server;
    QString image;
    QString received;
    QProcess cli;

    // Starts the simulator on a pseudo-terminal and ser2net in front of it (with `monitor`, a
    // second, raw accepter on the same device: line 1); an error text or empty.
    QString start(Ser2Net::Kind kind, bool monitor = false) {
        if (!writeImage())
            return QStringLiteral("the image could not be written");
        const QString line = dir.filePath(QStringLiteral("line"));
        if (simulator.start({"--wire-rate", "--quiet", "--out", received, "--link", line}).isEmpty())
            return QStringLiteral("module-sim did not start");
        return server.start(monitor ? QList<Ser2Net::Line>{{line, kind}, {line, Ser2Net::Kind::Raw}}
                                    : QList<Ser2Net::Line>{{line, kind}});
    }
    bool writeImage() {
        image = dir.filePath(QStringLiteral("QVL-GEN1.bin"));
        received = dir.filePath(QStringLiteral("received.bin"));
        QFile file(image);
        return file.open(QIODevice::WriteOnly) && file.write(paddedImage()) == 65536;
    }
    QString settingsFile() const {
        return dir.filePath(QStringLiteral("Kestrune_Update_Utility/Kestrune_Update_Utility.ini"));
    }
    // --list-ports with `ports` as the [Ports] section: its rows by COM number (1 to 9).
    QStringList listPorts(const QByteArray& ports) {
        QDir().mkpath(dir.filePath(QStringLiteral("Kestrune_Update_Utility")));
        QFile settings(settingsFile());
        if (!settings.open(QIODevice::WriteOnly) || settings.write("[Ports]\n" + ports) < 0)
            return {};
        settings.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        cli.setProcessEnvironment(environment);
        cli.start(qEnvironmentVariable("KUU_CLI"), {"--list-ports"});
        QStringList rows(10);
        if (!QTest::qWaitFor([&] { return cli.state() == QProcess::NotRunning; }, 30000))
            return rows;
        for (const QString& line : QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n'))
            if (line.startsWith(QLatin1String("COM")))
                rows[line.mid(3, 1).toInt()] = line;
        return rows;
    }
    QJsonObject firstPort() {
        const QJsonObject json = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
        return json.value(QStringLiteral("ports")).toArray().first().toObject();
    }
    void runCli(const QStringList& args) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        cli.setProcessEnvironment(environment);
        cli.start(qEnvironmentVariable("KUU_CLI"),
                  QStringList{"--image", image, "--record", dir.filePath(QStringLiteral("record.jsonl"))} +
                      args);
    }
};

} // namespace

class TestCliNetwork : public QObject {
    Q_OBJECT
private slots:
    void deliversEveryByte_data();
    void deliversEveryByte();
    void serverKilledMidSector_data();
    void serverKilledMidSector();
    void listPortsTriesNetworkComs();
    void serverThatWillNotCarryTheImage_data();
    void serverThatWillNotCarryTheImage();
    void listPortsWithNineSilentComs_data();
    void listPortsWithNineSilentComs();
    void oneLineUnderTwoNames_data();
    void oneLineUnderTwoNames();
};

namespace {
// Each case runs through a ser2net port of each kind.
void bothKinds() {
    QTest::addColumn<Ser2Net::Kind>("kind");
    QTest::newRow("raw TCP") << Ser2Net::Kind::Raw;
    QTest::newRow("RFC 2217") << Ser2Net::Kind::Rfc2217;
}
} // namespace

void TestCliNetwork::deliversEveryByte_data() {
    bothKinds();
}

void TestCliNetwork::deliversEveryByte() {
    QFETCH(Ser2Net::Kind, kind);
    if (!Ser2Net::unavailable().isEmpty())
        QSKIP(qPrintable(Ser2Net::unavailable()));
    NetworkBench bench;
    const QString error = bench.start(kind);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString address = bench.server.address(0);
    bench.runCli({"--json", address});
    QVERIFY(bench.cli.waitForFinished(40000));
    const QByteArray err = bench.cli.readAllStandardError();
    const QJsonObject json = QJsonDocument::fromJson(bench.cli.readAllStandardOutput()).object();
    const QJsonObject port = json.value(QStringLiteral("ports")).toArray().first().toObject();
    QCOMPARE(port.value(QStringLiteral("result")).toString(), QStringLiteral("success"));
    QCOMPARE(port.value(QStringLiteral("device")).toString(), address);
    QCOMPARE(bench.cli.exitCode(), 0);
    QVERIFY2(err.isEmpty(), err.constData());
    QFile received(bench.received);
    QVERIFY(received.open(QIODevice::ReadOnly));
    const QByteArray bytes = received.readAll();
    QCOMPARE(bytes.size(), 65536);
    QVERIFY2(bytes == paddedImage(), "the module got other bytes than the image's");
}

void TestCliNetwork::serverKilledMidSector_data() {
    bothKinds();
}

void TestCliNetwork::serverKilledMidSector() {
    QFETCH(Ser2Net::Kind, kind);
    if (!Ser2Net::unavailable().isEmpty())
        QSKIP(qPrintable(Ser2Net::unavailable()));
    NetworkBench bench;
    const QString error = bench.start(kind);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString address = bench.server.address(0);
    bench.runCli({address});
    // The sector takes 5.7 s at wire rate; a second into it, the server goes.
    QByteArray out;
    QVERIFY(QTest::qWaitFor(
        [&] {
            out += bench.cli.readAllStandardOutput();
            return out.contains("announced");
        },
        15000));
    QTest::qWait(1000);
    bench.server.kill();
    QElapsedTimer sinceKill;
    sinceKill.start();
    QVERIFY(bench.cli.waitForFinished(10000));
    QVERIFY2(sinceKill.elapsed() < 10000, qPrintable(QString::number(sinceKill.elapsed())));
    out += bench.cli.readAllStandardOutput();
    QCOMPARE(bench.cli.exitCode(), 1);
    QVERIFY2(out.contains("line-lost"), out.constData());
    QVERIFY2(out.contains(
                 QStringLiteral("The line to %1 was lost (the connection was closed").arg(address).toUtf8()),
             out.constData());
    QVERIFY(!QFile::exists(bench.received));
}

// [Ports]: COM5 a ser2net RFC 2217 port, COM6 a raw port nobody listens on, COM7 misspelt.
void TestCliNetwork::listPortsTriesNetworkComs() {
    if (!Ser2Net::unavailable().isEmpty())
        QSKIP(qPrintable(Ser2Net::unavailable()));
    NetworkBench bench;
    const QString error = bench.start(Ser2Net::Kind::Rfc2217);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 refusing = closed.serverPort();
    closed.close();
    const QByteArray written =
        QStringLiteral("COM5=%1\nCOM6=socket://127.0.0.1:%2\nCOM7=telnet://x:1\nCOM8=/dev/null\n")
            .arg(bench.server.address(0))
            .arg(refusing)
            .toUtf8();
    const QStringList rows = bench.listPorts(written);
    QCOMPARE(bench.cli.exitCode(), 0);
    const QString &com5 = rows[5], &com6 = rows[6], &com7 = rows[7], &com8 = rows[8];
    QVERIFY2(
        com5.contains(bench.server.address(0)) &&
            com5.contains(
                QStringLiteral("RFC 2217 port on host 127.0.0.1, TCP port %1").arg(bench.server.port(0))) &&
            com5.contains(QLatin1String("the server acknowledged 115200 baud")) &&
            com5.endsWith(QLatin1String("yes")),
        qPrintable(com5));
    QVERIFY2(com6.contains(QStringLiteral("no: socket://127.0.0.1:%1 refused the connection").arg(refusing)),
             qPrintable(com6));
    QVERIFY2(com7.contains(QLatin1String("no: unknown scheme \"telnet\"")), qPrintable(com7));
    QVERIFY2(com8.contains(QLatin1String("/dev/null (not a serial line)")) &&
                 com8.endsWith(QLatin1String("no: not a serial line")),
             qPrintable(com8));
    // The operator's lines stay as written: no network address is taken for a device.
    QFile settings(bench.settingsFile());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QVERIFY(settings.readAll().startsWith("[Ports]\n" + written));
}

void TestCliNetwork::serverThatWillNotCarryTheImage_data() {
    QTest::addColumn<QString>("server"); // a Telnet test server, or ser2net whose device a monitor holds
    QTest::addColumn<int>("heldMs");     // by the monitor; -1: for good
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("message"); // its end
    const QString textMode = "did not agree to binary transmission; the module got no image byte.";
    QTest::newRow("never answers an option") << "telnet" << 0 << "port-error" << textMode;
    QTest::newRow("agrees only WILL BINARY") << "telnet WILL" << 0 << "port-error" << textMode;
    QTest::newRow("device held through the other accepter")
        << "ser2net" << -1 << "line-lost"
        << "the server closed the connection: Port's device already in use). The module was not updated.";
    QTest::newRow("the monitor leaves after 1 s") << "ser2net" << 1000 << "success"
                                                  << "";
}

// The Telnet servers answer the probe as a module would, and must get nothing else. ser2net
// has a raw accepter (a monitor) and an RFC 2217 one on the same device.
void TestCliNetwork::serverThatWillNotCarryTheImage() {
    QFETCH(QString, server);
    QFETCH(int, heldMs);
    QFETCH(QString, result);
    QFETCH(QString, message);
    NetworkBench bench;
    TelnetPeer peer(server == QLatin1String("telnet WILL"));
    QTcpSocket monitor;
    QString address = peer.address();
    if (server == QLatin1String("ser2net")) {
        if (!Ser2Net::unavailable().isEmpty())
            QSKIP(qPrintable(Ser2Net::unavailable()));
        const QString error = bench.start(Ser2Net::Kind::Rfc2217, true);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        monitor.connectToHost(QHostAddress::LocalHost, bench.server.port(1));
        QVERIFY(monitor.waitForConnected(3000));
        QTest::qWait(200); // the device is opened for it
        if (heldMs > 0)
            QTimer::singleShot(heldMs, &monitor, [&] { monitor.disconnectFromHost(); });
        address = bench.server.address(0);
    } else {
        QVERIFY(bench.writeImage());
    }
    bench.runCli({"--json", "--identify-timeout", "10", address});
    QVERIFY(QTest::qWaitFor([&] { return bench.cli.state() == QProcess::NotRunning; }, 40000));
    const QJsonObject port = bench.firstPort();
    QCOMPARE(port.value(QStringLiteral("result")).toString(), result);
    QVERIFY2(port.value(QStringLiteral("message")).toString().endsWith(message),
             qPrintable(port.value(QStringLiteral("message")).toString()));
    if (server.startsWith(QLatin1String("telnet")))
        QVERIFY2(peer.data.startsWith("XX") && QByteArray(peer.data).replace('X', "").isEmpty(),
                 peer.data.left(64).toHex(' ').constData());
    QFile received(bench.received);
    QCOMPARE(received.open(QIODevice::ReadOnly) && received.readAll() == paddedImage(), result == "success");
}

void TestCliNetwork::listPortsWithNineSilentComs_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("reason"); // of every row
    // Connected at once, then nothing: each used to be opened again, one after another.
    QTest::newRow("RFC 2217: take the connection, never answer an option")
        << "rfc2217"
        << "the server did not agree to binary transmission";
    QTest::newRow("raw: never accept") << "socket"
                                       << "did not answer within 3 s";
}

void TestCliNetwork::listPortsWithNineSilentComs() {
    QFETCH(QString, scheme);
    QFETCH(QString, reason);
    std::vector<std::unique_ptr<TelnetPeer>> peers;
    std::vector<std::unique_ptr<SilentListener>> silent;
    QByteArray ports;
    for (int com = 1; com <= 9; ++com) {
        if (scheme == QLatin1String("rfc2217"))
            peers.push_back(std::make_unique<TelnetPeer>(false));
        else
            silent.push_back(std::make_unique<SilentListener>());
        const quint16 port = peers.empty() ? silent.back()->port : peers.back()->server.serverPort();
        ports += QStringLiteral("COM%1=%2://127.0.0.1:%3\n").arg(com).arg(scheme).arg(port).toUtf8();
    }
    NetworkBench bench;
    QElapsedTimer took;
    took.start();
    const QStringList rows = bench.listPorts(ports);
    QVERIFY2(took.elapsed() <= 6000, qPrintable(QString::number(took.elapsed())));
    for (int com = 1; com <= 9; ++com)
        QVERIFY2(rows[com].contains(QLatin1String("  no: ")) && rows[com].contains(reason) &&
                     !rows[com].contains(QLatin1String("yes")),
                 qPrintable(rows[com]));
}

void TestCliNetwork::oneLineUnderTwoNames_data() {
    // %1 is the TCP port of a listener on 127.0.0.1, %2 that of a second one on `second` (on
    // 127.0.0.2 it has the first's port); [Ports] holds COM5=socket://127.0.0.1:%1.
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("sameLine");
    const auto row = [](const char* name, QStringList ports, bool sameLine,
                        const char* second = "127.0.0.1") {
        QTest::newRow(name) << ports << QString(second) << sameLine;
    };
    row("host letter case", {"socket://localhost:%1", "socket://LOCALHOST:%1"}, true);
    row("a short IPv4 form", {"socket://127.0.0.1:%1", "socket://127.1:%1"}, true);
    row("a hexadecimal IPv4 form", {"socket://127.0.0.1:%1", "socket://0x7f.1:%1"}, true);
    row("IPv4-mapped IPv6", {"socket://127.0.0.1:%1", "socket://[::ffff:127.0.0.1]:%1"}, true);
    row("the unspecified address", {"socket://127.0.0.1:%1", "socket://0.0.0.0:%1"}, true);
    row("a name and its address", {"socket://127.0.0.1:%1", "rfc2217://localhost:%1/"}, true);
    row("both schemes on one server port", {"rfc2217://127.0.0.1:%1", "socket://127.0.0.1:%1"}, true);
    row("a COM mapped to an address, and the address", {"COM5", "rfc2217://127.1:%1"}, true);
    row("IPv6 with a zero written out", {"socket://[::1]:%2", "socket://[0::1]:%2"}, true, "::1");
    row("an unresolved name in two cases", {"socket://rack9.invalid:%1", "socket://RACK9.INVALID.:%1"}, true);
    row("another TCP port", {"socket://127.0.0.1:%1", "socket://127.0.0.1:%2"}, false);
    row("another loopback address", {"socket://localhost:%1", "socket://127.0.0.2:%1"}, false, "127.0.0.2");
}

// Two ports that reach one line would run two updates into one module, each told success: a
// usage error before any connection. Two lines are accepted, and each port connects, by the
// addresses the check found, to the listener it names.
void TestCliNetwork::oneLineUnderTwoNames() {
    QFETCH(QStringList, ports);
    QFETCH(QString, second);
    QFETCH(bool, sameLine);
    QTcpServer first, other;
    QVERIFY(first.listen(QHostAddress::LocalHost));
    if (!other.listen(QHostAddress(second), second == "127.0.0.2" ? first.serverPort() : 0))
        QSKIP(qPrintable(QStringLiteral("no listener on %1 here").arg(second)));
    for (QString& port : ports)
        port.replace("%1", QString::number(first.serverPort()))
            .replace("%2", QString::number(other.serverPort()));
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("Kestrune_Update_Utility"));
    QFile settings(dir.filePath("Kestrune_Update_Utility/Kestrune_Update_Utility.ini"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(QStringLiteral("[Ports]\nCOM5=socket://127.0.0.1:%1\n").arg(first.serverPort()).toUtf8());
    settings.close();
    QFile image(dir.filePath("QVL-GEN1.bin"));
    QVERIFY(image.open(QIODevice::WriteOnly) && image.write(QByteArray(16, 'x')) == 16);
    image.close();
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    cli.setProcessEnvironment(environment);
    cli.start(qEnvironmentVariable("KUU_CLI"), QStringList{"--image", image.fileName(), "--identify-timeout",
                                                           "0.3", "--record", dir.filePath("record.jsonl")} +
                                                   ports);
    QVERIFY(cli.waitForFinished(15000));
    QTest::qWait(100); // connections the command made are accepted by now
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    if (sameLine) {
        QCOMPARE(cli.exitCode(), 2);
        QVERIFY2(err.contains(QStringLiteral("%1 and %2 are the same line").arg(ports[0], ports[1])),
                 qPrintable(err));
        QVERIFY(!first.hasPendingConnections() && !other.hasPendingConnections());
        return;
    }
    QCOMPARE(cli.exitCode(), 1); // no module answers: the ports were run
    QVERIFY2(first.nextPendingConnection() && !first.hasPendingConnections(), qPrintable(err));
    QVERIFY2(other.nextPendingConnection() && !other.hasPendingConnections(), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestCliNetwork)
#include "tst_cli_network.moc"
