// The checks of a network port against real servers: silent, refused, and ser2net's accepters.
#include "NetworkChecks.h"
#include "Pty.h"
#include "Ser2Net.h"
#include "SilentListener.h"

#include <QTcpServer>
#include <QtTest>

namespace {
enum class Server { Silent, Refused, Rfc2217, PlainTelnet, Raw, DeviceGone };

quint16 closedPort() {
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}
} // namespace
Q_DECLARE_METATYPE(Server)

class TestDoctorNetwork : public QObject {
    Q_OBJECT
private slots:
    void servers_data();
    void servers();
};

void TestDoctorNetwork::servers_data() {
    QTest::addColumn<Server>("server");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fix");
    QTest::newRow("silent listener") << Server::Silent << "connects"
                                     << "problem"
                                     << "no connection within 0.5 s"
                                     << "reachable";
    QTest::newRow("refused port") << Server::Refused << "connects"
                                  << "problem"
                                  << "the connection was refused"
                                  << "start the server";
    QTest::newRow("telnet(rfc2217): agreed") << Server::Rfc2217 << "rfc2217"
                                             << "ok"
                                             << "acknowledged 115200 baud, 8 data bits, no parity, 1 stop bit"
                                             << "";
    QTest::newRow("plain telnet: no line settings") << Server::PlainTelnet << "rfc2217"
                                                    << "problem"
                                                    << "COM-PORT-OPTION"
                                                    << "telnet(rfc2217),tcp,PORT";
    QTest::newRow("ser2net whose device is gone") << Server::DeviceGone << "connects"
                                                  << "problem"
                                                  << "closed the connection at once"
                                                  << "connector's device";
    QTest::newRow("raw TCP: the server sets the line") << Server::Raw << "line"
                                                       << "ok"
                                                       << "115200 baud, 8N1"
                                                       << "";
}

void TestDoctorNetwork::servers() {
    QFETCH(Server, server);
    QFETCH(QString, check);
    QFETCH(QString, status);
    QFETCH(QString, text);
    QFETCH(QString, fix);

    SilentListener silent;
    Pty module;
    Ser2Net ser2net;
    QString address;
    switch (server) {
    case Server::Silent:
        QVERIFY(silent.full);
        address = QStringLiteral("socket://127.0.0.1:%1").arg(silent.port);
        break;
    case Server::Refused:
        address = QStringLiteral("rfc2217://127.0.0.1:%1").arg(closedPort());
        break;
    case Server::Rfc2217:
    case Server::PlainTelnet:
    case Server::Raw:
    case Server::DeviceGone: {
        if (!Ser2Net::unavailable().isEmpty())
            QSKIP(qPrintable(Ser2Net::unavailable()));
        const Ser2Net::Kind kind = server == Server::Rfc2217 ? Ser2Net::Kind::Rfc2217
                                   : server == Server::Raw   ? Ser2Net::Kind::Raw
                                                             : Ser2Net::Kind::Telnet;
        const QString device =
            server == Server::DeviceGone ? QStringLiteral("/dev/ttyGONE9") : module.slavePath();
        const QString error = ser2net.start({{device, kind}});
        QVERIFY2(error.isEmpty(), qPrintable(error));
        address = ser2net.address(0);
        break;
    }
    }
    const PortReport report = checkNetworkPort(address, address, QString(), 500);
    const PortCheck* found = report.find(check);
    QVERIFY2(found, qPrintable(QStringLiteral("no check %1 in %2").arg(check).arg(report.checks.size())));
    QVERIFY2(found->text.contains(text), qPrintable(found->text));
    QCOMPARE(PortCheck::statusName(found->status), status);
    QVERIFY2(found->fix.contains(fix), qPrintable(found->fix));
    QCOMPARE(report.usable(), status == QStringLiteral("ok"));
    // The agreement is the server's business: not one byte reached the module's line.
    QCOMPARE(module.read(1, 200), QByteArray());
}

QTEST_GUILESS_MAIN(TestDoctorNetwork)
#include "tst_doctor_network.moc"
