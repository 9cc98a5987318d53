// Tests of the listing of the serial devices present.
#include "SerialDeviceListing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

class TestSerialDeviceListing : public QObject {
    Q_OBJECT
private slots:
    void listsByIdLinksThenPorts_data();
    void listsByIdLinksThenPorts();
};

// Paths are relative to a scratch folder standing for /dev; "<name>><target>" is a link by-id/<name>,
// its name percent-encoded bytes.
void TestSerialDeviceListing::listsByIdLinksThenPorts_data() {
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QStringList>("ports");  // "path|description"
    QTest::addColumn<QStringList>("listed"); // "stable name|system path|description"
    QTest::newRow("a by-id link wins over its device")
        << QStringList{"usb-A-if00>ttyUSB0"} << QStringList{"ttyUSB0|FT232R USB UART", "ttyUSB1|"}
        << QStringList{"by-id/usb-A-if00|ttyUSB0|FT232R USB UART", "ttyUSB1|ttyUSB1|"};
    QTest::newRow("a dangling link is ignored") << QStringList{"usb-Gone-if00>ttyUSB9", "usb-B-if00>ttyUSB1"}
                                                << QStringList{} << QStringList{"by-id/usb-B-if00|ttyUSB1|"};
    QTest::newRow("two links to one device: one entry")
        << QStringList{"usb-A-if00>ttyUSB0", "usb-A-if00-port0>ttyUSB0", "usb-Z>by-id/usb-A-if00"}
        << QStringList{"ttyUSB0|FT232R USB UART"} << QStringList{"by-id/usb-A-if00|ttyUSB0|FT232R USB UART"};
    QTest::newRow("a name that is not UTF-8: the device by its path")
        << QStringList{"usb-Pr%FCfplatz-if00>ttyUSB0", "usb-%FC>ttyUSB1"}
        << QStringList{"ttyUSB0|FT232R USB UART"}
        << QStringList{"ttyUSB0|ttyUSB0|FT232R USB UART", "ttyUSB1|ttyUSB1|"};
    QTest::newRow("a UTF-8 name is kept") << QStringList{"usb-Pr%C3%BCfplatz-if00>ttyUSB1"} << QStringList{}
                                          << QStringList{"by-id/usb-Prüfplatz-if00|ttyUSB1|"};
    QTest::newRow("a name ending in a blank: the device by its path")
        << QStringList{"usb-A-if00 >ttyUSB0", "usb-B\tx>ttyUSB1"} << QStringList{}
        << QStringList{"ttyUSB0|ttyUSB0|", "ttyUSB1|ttyUSB1|"};
    QTest::newRow("a later stable link names the device")
        << QStringList{"usb-A >ttyUSB0", "usb-A-if00>ttyUSB0"} << QStringList{"ttyUSB0|FT232R USB UART"}
        << QStringList{"by-id/usb-A-if00|ttyUSB0|FT232R USB UART"};
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
    for (const QString& link : links) {
        const QByteArray name = QByteArray::fromPercentEncoding(link.section('>', 0, 0).toUtf8());
        QCOMPARE(::symlink(QFile::encodeName(root + link.section('>', 1)).constData(),
                           (QFile::encodeName(root + "by-id/") + name).constData()),
                 0);
    }
    const SystemSerialDevices listing(
        root + "by-id",
        [&] {
            QList<PresentDevice> reported;
            for (const QString& port : ports)
                reported.append(
                    {QString(), root + port.section('|', 0, 0), port.section('|', 1), "FTDI", "A10"});
            return reported;
        },
        [](const QString&) { return true; }); // plain files stand for the devices here
    QStringList got;
    for (const PresentDevice& device : listing.devices())
        got << QStringList{device.stableName, device.systemPath, device.description}.join('|').remove(root);
    QCOMPARE(got, listed);
}

QTEST_GUILESS_MAIN(TestSerialDeviceListing)
#include "tst_serial_device_listing.moc"
