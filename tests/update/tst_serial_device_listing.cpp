// Tests of the listing of the serial devices present.
#include "SerialDeviceListing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSerialDeviceListing : public QObject {
    Q_OBJECT
private slots:
    void listsByIdLinksThenPorts_data();
    void listsByIdLinksThenPorts();
};

// Paths are relative to a scratch folder standing for /dev; "by-id/<name>>dev/<target>" is a link.
void TestSerialDeviceListing::listsByIdLinksThenPorts_data() {
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QStringList>("ports");  // "path|description"
    QTest::addColumn<QStringList>("listed"); // "stable name|system path|description"
    QTest::newRow("a by-id link wins over its device")
        << QStringList{"usb-A-if00>ttyUSB0"} << QStringList{"ttyUSB0|FT232R USB UART", "ttyUSB1|"}
        << QStringList{"by-id/usb-A-if00|ttyUSB0|FT232R USB UART", "ttyUSB1|ttyUSB1|"};
    QTest::newRow("a dangling link is ignored") << QStringList{"usb-Gone-if00>ttyUSB9", "usb-B-if00>ttyUSB1"}
                                                << QStringList{} << QStringList{"by-id/usb-B-if00|ttyUSB1|"};
}

void TestSerialDeviceListing::listsByIdLinksThenPorts() {
    QFETCH(QStringList, links);
    QFETCH(QStringList, ports);
    QFETCH(QStringList, listed);
    QTemporaryDir dir;
    const QString root = QFileInfo(dir.path()).canonicalFilePath() + '/';
    QVERIFY(QDir().mkpath(root + "by-id"));
    for (const char* device : {"ttyUSB0", "ttyUSB1"}) {
        QFile file(root + QLatin1String(device));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    for (const QString& link : links)
        QVERIFY(QFile::link(root + link.section('>', 1), root + "by-id/" + link.section('>', 0, 0)));
    const SystemSerialDevices listing(root + "by-id", [&] {
        QList<PresentDevice> reported;
        for (const QString& port : ports)
            reported.append({QString(), root + port.section('|', 0, 0), port.section('|', 1), "FTDI", "A10"});
        return reported;
    });
    QStringList got;
    for (const PresentDevice& device : listing.devices())
        got << QStringList{device.stableName, device.systemPath, device.description}.join('|').remove(root);
    QCOMPARE(got, listed);
}

QTEST_GUILESS_MAIN(TestSerialDeviceListing)
#include "tst_serial_device_listing.moc"
