// Tests of the stable COM number assignment.
#include "PortAssignment.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Devices as "stable name|system path", or one path that is both.
class FakeListing : public SerialDeviceListing {
public:
    explicit FakeListing(const QStringList& names)
        : names(names) {}
    QList<PresentDevice> devices() const override {
        QList<PresentDevice> devices;
        for (const QString& name : names)
            devices.append({name.section('|', 0, 0), name.section('|', -1), "FT232R USB UART", "FTDI", {}});
        return devices;
    }
    const QStringList names;
};
} // namespace

class TestPortAssignment : public QObject {
    Q_OBJECT
private slots:
    void newLinesForNewDevices_data();
    void newLinesForNewDevices();
    void unwritableFileKeepsTheAssignment();
};

void TestPortAssignment::newLinesForNewDevices_data() {
    QTest::addColumn<QByteArray>("before"); // "-" : no file yet
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QStringList>("unassigned");
    QTest::newRow("operator lines untouched")
        << QByteArray("; bench 2\n[Ports]\nCOM3=/dev/serial/by-id/usb-Left\n# spare\nCOM1=/dev/ttyUSB7\n\n"
                      "[Settings]\nCOM-Port=3\n")
        << QStringList{"/dev/serial/by-id/usb-Left|/dev/ttyUSB0", "/dev/ttyUSB7", "/dev/ttyUSB1"}
        << QByteArray("; bench 2\n[Ports]\nCOM3=/dev/serial/by-id/usb-Left\n# spare\nCOM1=/dev/ttyUSB7\n"
                      "COM2=/dev/ttyUSB1\n\n[Settings]\nCOM-Port=3\n")
        << QStringList{};
    QTest::newRow("ttyS1 takes COM2") << QByteArray("-") << QStringList{"/dev/ttyS1"}
                                      << QByteArray("[Ports]\nCOM2=/dev/ttyS1\n") << QStringList{};
    QTest::newRow("two adapters in name order")
        << QByteArray("[Settings]\r\nCOM-Port=1\r\n[Ports]\r\nCOM1=/dev/ttyS0\r\n")
        << QStringList{"/dev/serial/by-id/usb-B|/dev/ttyUSB0", "/dev/ttyS0",
                       "/dev/serial/by-id/usb-A|/dev/ttyUSB1"}
        << QByteArray("[Settings]\r\nCOM-Port=1\r\n[Ports]\r\nCOM1=/dev/ttyS0\r\n"
                      "COM2=/dev/serial/by-id/usb-A\r\nCOM3=/dev/serial/by-id/usb-B\r\n")
        << QStringList{};
    QTest::newRow("an unplugged adapter keeps its number")
        << QByteArray("[Ports]\nCOM1=/dev/serial/by-id/usb-Gone\n")
        << QStringList{"/dev/serial/by-id/usb-New|/dev/ttyUSB0"}
        << QByteArray("[Ports]\nCOM1=/dev/serial/by-id/usb-Gone\nCOM2=/dev/serial/by-id/usb-New\n")
        << QStringList{};
    QStringList ten;
    QByteArray nine("[Ports]\n");
    for (int i = 0; i < 10; ++i) {
        ten << QStringLiteral("/dev/ttyUSB%1").arg(i);
        if (i < 9)
            nine += QStringLiteral("COM%1=/dev/ttyUSB%2\n").arg(i + 1).arg(i).toUtf8();
    }
    QTest::newRow("ten devices") << QByteArray("-") << ten << nine << QStringList{"/dev/ttyUSB9"};
}

void TestPortAssignment::newLinesForNewDevices() {
    QFETCH(QByteArray, before);
    QFETCH(QStringList, devices);
    QFETCH(QByteArray, after);
    QFETCH(QStringList, unassigned);
    QTemporaryDir dir;
    const QString path = dir.filePath("Kestrune_Update_Utility.ini");
    if (before != "-") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before);
    }
    const PortAssignmentResult result = applyPortAssignment(path, FakeListing(devices));
    QCOMPARE(result.writeError, QString());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), after);
    QStringList left;
    for (const PresentDevice& device : result.unassigned)
        left << device.stableName;
    QCOMPARE(left, unassigned);
}

void TestPortAssignment::unwritableFileKeepsTheAssignment() {
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("settings.ini")));
    const PortAssignmentResult result = applyPortAssignment(
        dir.filePath("settings.ini"), FakeListing({"/dev/serial/by-id/usb-A|/dev/ttyUSB0"}));
    QVERIFY(!result.writeError.isEmpty());
    QCOMPARE(result.map.deviceFor(1), QStringLiteral("/dev/serial/by-id/usb-A"));
    QCOMPARE(result.map.deviceFor(2), QStringLiteral("/dev/ttyS1"));
    QCOMPARE(result.map.toolTip(1), QStringLiteral("FT232R USB UART — FTDI — /dev/serial/by-id/usb-A"));
}

QTEST_GUILESS_MAIN(TestPortAssignment)
#include "tst_port_assignment.moc"
