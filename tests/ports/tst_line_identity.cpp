// Which two network ports reach one line: hosts read as numbers, zones, names folded, looked-up
// address sets that meet or not, and the TCP port.

#include "LineIdentity.h"

#include <QtTest>

namespace {
// "host" or "host=address,address": a host written in a port, with what looking it up found.
LineEndpoint endpointOf(const QString& written, quint16 port) {
    const QStringList parts = written.split(u'=');
    NetworkPortAddress target;
    target.host = parts[0];
    target.port = port;
    QList<QHostAddress> found;
    for (const QString& address : parts.value(1).split(u',', Qt::SkipEmptyParts))
        found << QHostAddress(address);
    return lineEndpoint(target, found);
}
} // namespace

class TestLineIdentity : public QObject {
    Q_OBJECT
private slots:
    void sameLine_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<int>("secondPort"); // the first's is 4001
        QTest::addColumn<bool>("same");
        QTest::newRow("octal IPv4") << "0177.0.0.1"
                                    << "127.0.0.1" << 4001 << true;
        QTest::newRow("IPv4 as one number") << "2130706433"
                                            << "127.0.0.1" << 4001 << true;
        QTest::newRow("two loopback addresses") << "127.0.0.1"
                                                << "127.0.0.2" << 4001 << false;
        QTest::newRow("IPv6 written out") << "0:0:0:0:0:0:0:1"
                                          << "::1" << 4001 << true;
        QTest::newRow("IPv4-mapped in hex") << "::ffff:7f00:1"
                                            << "127.0.0.1" << 4001 << true;
        QTest::newRow("the unspecified IPv6 address is the loopback") << "::"
                                                                      << "::1" << 4001 << true;
        QTest::newRow("a zone by name and by index") << "fe80::1%lo"
                                                     << "fe80::1%1" << 4001 << true;
        QTest::newRow("a zone and none") << "fe80::1%lo"
                                         << "fe80::1" << 4001 << false;
        QTest::newRow("another TCP port") << "127.0.0.1"
                                          << "127.0.0.1" << 4002 << false;
        QTest::newRow("names whose addresses meet") << "rack2=10.0.0.7,fd00::7"
                                                    << "fd00::7" << 4001 << true;
        QTest::newRow("a mapped address found for a name") << "rack2=::ffff:10.0.0.7"
                                                           << "10.0.0.7" << 4001 << true;
        QTest::newRow("names whose addresses do not meet") << "rack2=10.0.0.7"
                                                           << "rack3=10.0.0.8,fd00::8" << 4001 << false;
        QTest::newRow("unresolved names: case and trailing dot") << "Rack2."
                                                                 << "rACK2" << 4001 << true;
        QTest::newRow("an unresolved name is not any address") << "rack2"
                                                               << "10.0.0.7" << 4001 << false;
        QTest::newRow("international names folded") << "bücher.bench"
                                                    << "BÜCHER.BENCH" << 4001 << true;
    }
    void sameLine() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(int, secondPort);
        QFETCH(bool, same);
        const LineEndpoint a = endpointOf(first, 4001);
        const LineEndpoint b = endpointOf(second, quint16(secondPort));
        QCOMPARE(::sameLine(a, b), same);
        QCOMPARE(::sameLine(b, a), same);
    }
};

QTEST_GUILESS_MAIN(TestLineIdentity)
#include "tst_line_identity.moc"
