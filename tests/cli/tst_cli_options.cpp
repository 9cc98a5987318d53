// Arguments that the command line must refuse as usage errors, with a message that says why.
#include "CliOptions.h"
#include "PortTargets.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestCliOptions : public QObject {
    Q_OBJECT
private slots:
    void refused_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("says");
        QTest::newRow("no port") << QStringList{} << "no PORT";
        QTest::newRow("COM0") << QStringList{"COM0"} << "'COM0' is not a port";
        QTest::newRow("COM10") << QStringList{"COM10"} << "'COM10' is not a port";
        QTest::newRow("bare name") << QStringList{"ttyUSB0"} << "'ttyUSB0' is not a port";
        QTest::newRow("network port without slashes")
            << QStringList{"rfc2217:rack2:4001"} << "or socket://HOST:PORT";
        QTest::newRow("same address twice") << QStringList{"socket://h:1", "socket://h:1"} << "given twice";
        QTest::newRow("same COM twice, other case") << QStringList{"COM3", "com3"} << "COM3 is given twice";
        QTest::newRow("same path twice") << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB0"} << "given twice";
        QTest::newRow("unknown option") << QStringList{"--fast", "COM1"} << "fast";
        QTest::newRow("image without file") << QStringList{"COM1", "--image"} << "image";
        QTest::newRow("timeout not a number")
            << QStringList{"--identify-timeout", "soon", "COM1"} << "'soon'";
        QTest::newRow("timeout zero")
            << QStringList{"--identify-timeout", "0", "COM1"} << "from 0.1 to 604800";
        // The range is 0.1 s to a week; whatever lies outside says the range.
        for (const char* seconds : {"604801", "0.09", "1e-300", "nan", "inf", "-inf", "-1", "abc", "1e9", ""})
            QTest::addRow("timeout '%s'", seconds)
                << QStringList{"--identify-timeout", seconds, "COM1"}
                << QString("'%1' is not a number of seconds from 0.1 to 604800 (7 days)").arg(seconds);
        QTest::newRow("two images") << QStringList{"--image", "a", "--image", "b", "COM1"}
                                    << "more than once";
        QTest::newRow("list with a port") << QStringList{"--list-ports", "COM1"} << "--list-ports takes no";
        QTest::newRow("comtest with two ports")
            << QStringList{"--comtest", "COM1", "COM2"} << "--comtest takes no";
        QTest::newRow("comtest with json")
            << QStringList{"--comtest", "COM1", "--json"} << "--comtest takes no";
        QTest::newRow("comtest and list") << QStringList{"--comtest", "COM1", "--list-ports"} << "together";
    }
    void refused() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, says);
        const CliParse parse = parseCliArguments(QStringList{"kestrune-update"} + arguments);
        QVERIFY2(parse.error.contains(says), qPrintable(parse.error));
    }

    void identifyTimeoutAccepted_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<double>("seconds");
        QTest::newRow("the least, 0.1 s") << "0.1" << 0.1;
        QTest::newRow("the most, a week") << "604800" << 604800.0;
        QTest::newRow("a day and a second") << "86401" << 86401.0;
        QTest::newRow("written with an exponent") << "6.048e5" << 604800.0;
    }
    void identifyTimeoutAccepted() {
        QFETCH(QString, given);
        QFETCH(double, seconds);
        const CliParse parse = parseCliArguments({"kestrune-update", "--identify-timeout", given, "COM1"});
        QVERIFY2(parse.error.isEmpty(), qPrintable(parse.error));
        QCOMPARE(parse.options.identifyLimit, seconds);
    }

    // Arguments as the program gets them: a name that is not UTF-8 is refused with the bytes
    // shown, whichever option or port it is.
    void argumentBytes_data() {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QString>("says"); // empty: accepted
        QTest::newRow("Latin-1 image") << QByteArrayList{"--image",
                                                         "/srv/Pr\xFC"
                                                         "fplatz/QVL-GEN-2.bin",
                                                         "COM1"}
                                       << "the name '/srv/Pr\\xFCfplatz/QVL-GEN-2.bin' is not valid UTF-8";
        QTest::newRow("Latin-1 image, one argument")
            << QByteArrayList{"--image=/srv/Pr\xFC"
                              "fplatz/a.bin",
                              "COM1"}
            << "the name '--image=/srv/Pr\\xFCfplatz/a.bin' is not valid UTF-8";
        QTest::newRow("Latin-1 port") << QByteArrayList{"/dev/serial/by-id/usb-Pr\xFC"
                                                        "f-if00"}
                                      << "the name '/dev/serial/by-id/usb-Pr\\xFCf-if00' is not valid UTF-8";
        QTest::newRow("Latin-1 record") << QByteArrayList{"--record", "/tmp/\xE9t\xE9.jsonl", "COM1"}
                                        << "'/tmp/\\xE9t\\xE9.jsonl' is not valid UTF-8";
        QTest::newRow("a cut UTF-8 sequence") << QByteArrayList{"/dev/ttyUSB\xC3"} << "'/dev/ttyUSB\\xC3'";
        QTest::newRow("UTF-8 umlaut") << QByteArrayList{"--image",
                                                        "/srv/Pr\xC3\xBC"
                                                        "fplatz/a.bin",
                                                        "COM1"}
                                      << "";
        QTest::newRow("plain ASCII") << QByteArrayList{"--json", "COM1", "/dev/ttyUSB0"} << "";
    }
    void argumentBytes() {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QString, says);
        const QString error = nonUtf8ArgumentError(QByteArrayList{"kestrune-update"} + arguments);
        if (says.isEmpty())
            QVERIFY2(error.isEmpty(), qPrintable(error));
        else
            QVERIFY2(error.contains(says), qPrintable(error));
    }

    void accepted() {
        const CliParse parse = parseCliArguments({"kestrune-update", "--identify-timeout", "2.5", "--json",
                                                  "com2", "/dev/serial/by-id/usb-x", "COM9"});
        QVERIFY2(parse.error.isEmpty(), qPrintable(parse.error));
        QCOMPARE(parse.options.ports, (QStringList{"COM2", "/dev/serial/by-id/usb-x", "COM9"}));
        QCOMPARE(parse.options.identifyLimit, 2.5);
        QVERIFY(parse.options.json);
    }

    // [Ports] here: COM5=rfc2217://rack2.bench:4001. An address is never stat'ed.
    void networkPortsResolved_data() {
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<QStringList>("devices"); // what each opens, when there is no error
        QTest::addColumn<QString>("error");
        QTest::newRow("addresses as written")
            << QStringList{"rfc2217://rack2.bench:4001", "socket://[::1]:7", "/dev/zero"}
            << QStringList{"rfc2217://rack2.bench:4001", "socket://[::1]:7", "/dev/zero"} << "";
        QTest::newRow("a COM mapped to an address")
            << QStringList{"COM5"} << QStringList{"rfc2217://rack2.bench:4001"} << "";
        QTest::newRow("two spellings of one address")
            << QStringList{"socket://127.0.0.1:1", "SOCKET://127.0.0.1:1/"} << QStringList{}
            << "socket://127.0.0.1:1 and SOCKET://127.0.0.1:1/ are the same line (127.0.0.1, TCP port 1)";
        QTest::newRow("a COM and its address")
            << QStringList{"COM5", "rfc2217://rack2.bench:4001"} << QStringList{}
            << "COM5 and rfc2217://rack2.bench:4001 are the same line";
        QTest::newRow("the same port by both kinds is one line")
            << QStringList{"socket://rack2.bench:4001", "COM5"} << QStringList{}
            << "socket://rack2.bench:4001 and COM5 are the same line (rack2.bench, TCP port 4001)";
        QTest::newRow("another TCP port on the same host is another line")
            << QStringList{"socket://rack2.bench:4002", "COM5"}
            << QStringList{"socket://rack2.bench:4002", "rfc2217://rack2.bench:4001"} << "";
    }
    void networkPortsResolved() {
        QFETCH(QStringList, ports);
        QFETCH(QStringList, devices);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString settings = dir.filePath("Kestrune_Update_Utility.ini");
        QFile file(settings);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Ports]\nCOM5=rfc2217://rack2.bench:4001\n");
        file.close();
        const PortResolution resolution = resolvePorts(ports, settings);
        QVERIFY2(error.isEmpty() ? resolution.error.isEmpty() : resolution.error.startsWith(error),
                 qPrintable(resolution.error));
        if (!error.isEmpty())
            return;
        QStringList opened;
        for (const PortTarget& target : resolution.targets)
            opened << target.device;
        QCOMPARE(opened, devices);
    }
};

QTEST_GUILESS_MAIN(TestCliOptions)
#include "tst_cli_options.moc"
