// Several network addresses tried at once within one limit: silent, refusing and listening
// hosts and unreadable addresses, each with its own outcome, the whole within the limit.

#include "NetworkProbe.h"
#include "ProxyInTheEnvironment.h"
#include "QtEventPass.h"
#include "SilentListener.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>
#include <memory>
#include <vector>

class TestNetworkProbe : public QObject {
    Q_OBJECT
private slots:
    void allAtOnce_data();
    void allAtOnce();
};

void TestNetworkProbe::allAtOnce_data() {
    // Each address: "silent", "refusing", "listening", "named" (the listening one by this
    // machine's name, with an HTTP proxy in the environment) or a literal address.
    QTest::addColumn<QStringList>("hosts");
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<QStringList>("outcomes"); // "yes", or the start of the reason
    QTest::addColumn<int>("atLeastMs");        // the probe waited this long (the limit, when one is silent)
    QTest::newRow("nine silent hosts take the limit once")
        << QStringList(9, QStringLiteral("silent")) << 1000
        << QStringList(9, QStringLiteral("rfc2217://127.0.0.1:%1 did not answer within 1 s")) << 950;
    QTest::newRow("mixed")
        << QStringList{"listening", "refusing", "silent", "telnet://127.0.0.1:1", "socket://x.invalid:1",
                       "listening"}
        << 800
        << QStringList{"yes",
                       "rfc2217://127.0.0.1:%1 refused the connection",
                       "rfc2217://127.0.0.1:%1 did not answer within 0.8 s",
                       "unknown scheme \"telnet\"",
                       "socket://x.invalid:1: the host name x.invalid does not resolve",
                       "yes"}
        << 750;
    QTest::newRow("no silent host: done as soon as all answered")
        << QStringList{"listening", "refusing", "listening"} << 3000
        << QStringList{"yes", "rfc2217://127.0.0.1:%1 refused the connection", "yes"} << 0;
    QTest::newRow("by host name, http_proxy set: the host, not the proxy")
        << QStringList{"named", "listening"} << 3000 << QStringList{"yes", "yes"} << 0;
    QTest::newRow("nothing to try") << QStringList{} << 3000 << QStringList{} << 0;
}

void TestNetworkProbe::allAtOnce() {
    QFETCH(QStringList, hosts);
    QFETCH(int, limitMs);
    QFETCH(QStringList, outcomes);
    QFETCH(int, atLeastMs);
    const bool byName = hosts.contains(QStringLiteral("named"));
    const QString name = byName ? ownResolvableName() : QString();
    if (byName && name.isEmpty())
        QSKIP("this machine's name does not resolve");
    std::unique_ptr<ProxyInTheEnvironment> proxy(byName ? new ProxyInTheEnvironment : nullptr);
    std::vector<std::unique_ptr<SilentListener>> silent;
    QTcpServer listening;
    QVERIFY(listening.listen(byName ? QHostAddress::Any : QHostAddress::LocalHost, 0));
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 refusing = closed.serverPort();
    closed.close();
    QStringList addresses;
    QList<quint16> ports;
    for (const QString& host : hosts) {
        quint16 port = 0;
        if (host == QLatin1String("silent")) {
            silent.push_back(std::make_unique<SilentListener>());
            QVERIFY2(silent.back()->full, "could not fill the listener's queue");
            port = silent.back()->port;
        } else if (host == QLatin1String("refusing")) {
            port = refusing;
        } else if (host == QLatin1String("listening") || host == QLatin1String("named")) {
            port = listening.serverPort();
        }
        ports << port;
        const QString where = host == QLatin1String("named") ? name : QStringLiteral("127.0.0.1");
        addresses << (port ? QStringLiteral("rfc2217://%1:%2").arg(where).arg(port) : host);
    }
    QtEventPass pass;
    // The caller's loop keeps running: a timer of the caller's ticks throughout.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(50);
    QElapsedTimer took;
    took.start();
    const QList<NetworkProbeResult> results = probeNetworkPorts(pass, addresses, limitMs);
    const qint64 elapsed = took.elapsed();
    QVERIFY2(elapsed >= atLeastMs, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < limitMs + 400, qPrintable(QString::number(elapsed)));
    if (atLeastMs > 0)
        QVERIFY2(ticks >= elapsed / 50 - 3, qPrintable(QString::number(ticks)));
    QCOMPARE(results.size(), addresses.size());
    QCOMPARE(proxy ? proxy->connections : 0, 0);
    for (int i = 0; i < results.size(); ++i) {
        QCOMPARE(results[i].address, addresses[i]);
        const QString wanted = QString(outcomes[i]).replace(QLatin1String("%1"), QString::number(ports[i]));
        if (wanted == QLatin1String("yes")) {
            QVERIFY2(results[i].connected, qPrintable(results[i].reason));
            QCOMPARE(results[i].reason, QString());
        } else {
            QVERIFY(!results[i].connected);
            QVERIFY2(results[i].reason.startsWith(wanted), qPrintable(results[i].reason));
        }
    }
}

QTEST_GUILESS_MAIN(TestNetworkProbe)
#include "tst_network_probe.moc"
