// Arguments that the command line must refuse as usage errors, with a message that says why.
#include "CliOptions.h"

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
        QTest::newRow("same COM twice, other case") << QStringList{"COM3", "com3"} << "COM3 is given twice";
        QTest::newRow("same path twice") << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB0"} << "given twice";
        QTest::newRow("unknown option") << QStringList{"--fast", "COM1"} << "fast";
        QTest::newRow("image without file") << QStringList{"COM1", "--image"} << "image";
        QTest::newRow("timeout not a number")
            << QStringList{"--identify-timeout", "soon", "COM1"} << "'soon'";
        QTest::newRow("timeout zero") << QStringList{"--identify-timeout", "0", "COM1"} << "above 0";
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

    void accepted() {
        const CliParse parse = parseCliArguments({"kestrune-update", "--identify-timeout", "2.5", "--json",
                                                  "com2", "/dev/serial/by-id/usb-x", "COM9"});
        QVERIFY2(parse.error.isEmpty(), qPrintable(parse.error));
        QCOMPARE(parse.options.ports, (QStringList{"COM2", "/dev/serial/by-id/usb-x", "COM9"}));
        QCOMPARE(parse.options.identifyLimit, 2.5);
        QVERIFY(parse.options.json);
    }
};

QTEST_GUILESS_MAIN(TestCliOptions)
#include "tst_cli_options.moc"
