// Tests of the stable COM number assignment.
#include "PortAssignment.h"

#include "Pty.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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
    void onlySerialLinesGetNumbers_data();
    void onlySerialLinesGetNumbers();
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
    // Names the settings reader would give back otherwise: the device is known by its path.
    QTest::newRow("a by-id name ending in a blank: its path, once")
        << QByteArray("-") << QStringList{"/dev/serial/by-id/usb-Bench_A10 |/dev/ttyUSB0"}
        << QByteArray("[Ports]\nCOM1=/dev/ttyUSB0\n") << QStringList{};
    QTest::newRow("a line that lost its blank: the path added once")
        << QByteArray("[Ports]\nCOM1=/dev/serial/by-id/usb-Bench_A10 \n")
        << QStringList{"/dev/serial/by-id/usb-Bench_A10 |/dev/ttyUSB0"}
        << QByteArray("[Ports]\nCOM1=/dev/serial/by-id/usb-Bench_A10 \nCOM2=/dev/ttyUSB0\n") << QStringList{};
    QTest::newRow("a leading blank and control characters: paths")
        << QByteArray("-")
        << QStringList{"/dev/serial/by-id/ usb-B|/dev/ttyUSB1", "/dev/serial/by-id/usb\tC|/dev/ttyUSB2",
                       "/dev/serial/by-id/usb-D\r|/dev/ttyUSB3", "/dev/serial/by-id/usb-E\nx|/dev/ttyUSB4",
                       "/dev/serial/by-id/usb-F\x01|/dev/ttyUSB5"}
        << QByteArray("[Ports]\nCOM1=/dev/ttyUSB1\nCOM2=/dev/ttyUSB2\nCOM3=/dev/ttyUSB3\nCOM4=/dev/ttyUSB4\n"
                      "COM5=/dev/ttyUSB5\n")
        << QStringList{};
    QTest::newRow("a name that was not UTF-8: its path")
        << QByteArray("-") << QStringList{QString::fromUtf8("/dev/serial/by-id/usb-Pr\uFFFDf|/dev/ttyACM0")}
        << QByteArray("[Ports]\nCOM1=/dev/ttyACM0\n") << QStringList{};
    QTest::newRow("'=', '[' and ';' in a name are kept")
        << QByteArray("-") << QStringList{"/dev/serial/by-id/[usb=A;1]|/dev/ttyUSB0"}
        << QByteArray("[Ports]\nCOM1=/dev/serial/by-id/[usb=A;1]\n") << QStringList{};
    // A device already mapped, under whichever of its names, gets no second line.
    QTest::newRow("a line naming the device by its path serves it")
        << QByteArray("[Ports]\nCOM4=/dev/ttyUSB3\n") << QStringList{"/dev/serial/by-id/usb-A|/dev/ttyUSB3"}
        << QByteArray("[Ports]\nCOM4=/dev/ttyUSB3\n") << QStringList{};
    QTest::newRow("a device listed by its link and its path: one line")
        << QByteArray("-") << QStringList{"/dev/ttyUSB0", "/dev/serial/by-id/usb-A|/dev/ttyUSB0"}
        << QByteArray("[Ports]\nCOM1=/dev/serial/by-id/usb-A\n") << QStringList{};
    QTest::newRow("a line naming the device by another link serves it")
        << QByteArray("[Ports]\nCOM5=$DIR/link-to-null\n") << QStringList{"/dev/serial/by-id/usb-N|/dev/null"}
        << QByteArray("[Ports]\nCOM5=$DIR/link-to-null\n") << QStringList{};
    QTest::newRow("a line naming another node of the device serves it")
        << QByteArray("[Ports]\nCOM6=$DIR/node-of-null\n") << QStringList{"/dev/serial/by-id/usb-N|/dev/null"}
        << QByteArray("[Ports]\nCOM6=$DIR/node-of-null\n") << QStringList{};
    // A built-in port whose own number a line holds takes the lowest free one, or none.
    QTest::newRow("ttyS0 with COM1 held takes COM2")
        << QByteArray("[Ports]\nCOM1=/dev/ttyUSB0\n") << QStringList{"/dev/ttyS0"}
        << QByteArray("[Ports]\nCOM1=/dev/ttyUSB0\nCOM2=/dev/ttyS0\n") << QStringList{};
    // The scratch folder holds rfc2217:/rack2.bench:4001 leading to /dev/null, and the test runs in it:
    // read as a relative path, the network line would stand for /dev/null and keep it from a line.
    QTest::newRow("a network line serves no device and is kept as written")
        << QByteArray("[Ports]\nCOM1=rfc2217://rack2.bench:4001\n")
        << QStringList{"/dev/serial/by-id/usb-N|/dev/null"}
        << QByteArray("[Ports]\nCOM1=rfc2217://rack2.bench:4001\nCOM2=/dev/serial/by-id/usb-N\n")
        << QStringList{};
    QTest::newRow("ttyS0 with all nine held gets none")
        << nine << QStringList{"/dev/ttyS0"} << nine << QStringList{"/dev/ttyS0"};
}

// "$DIR" stands for a scratch folder holding a link to /dev/null and another node of it.
void TestPortAssignment::newLinesForNewDevices() {
    QFETCH(QByteArray, before);
    QFETCH(QStringList, devices);
    QFETCH(QByteArray, after);
    QFETCH(QStringList, unassigned);
    QTemporaryDir dir;
    const QByteArray scratch = QFile::encodeName(dir.path());
    QVERIFY(QFile::link("/dev/null", dir.filePath("link-to-null")));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("rfc2217:")));
    QVERIFY(QFile::link("/dev/null", dir.filePath("rfc2217:/rack2.bench:4001")));
    const QString startFolder = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const auto back = qScopeGuard([&startFolder] { QDir::setCurrent(startFolder); });
    if (before.contains("node-of-null") &&
        ::mknod((scratch + "/node-of-null").constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
        QSKIP("making a device node needs root");
    before.replace("$DIR", scratch);
    after.replace("$DIR", scratch);
    const QString path = dir.filePath("Kestrune_Update_Utility.ini");
    if (before != "-") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before);
    }
    // Two starts: the second adds nothing.
    for (int start = 1; start <= 2; ++start) {
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

// A by-id link to `target` sorts before a link to an adapter (a pty); the system reports
// `target` as a port too. Only a serial line may take a number; the adapter keeps COM1 otherwise.
void TestPortAssignment::onlySerialLinesGetNumbers_data() {
    QTest::addColumn<QString>("target"); // "$FILE", "$DIR", "$PTY" stand for made ones
    QTest::addColumn<bool>("numbered");
    QTest::addColumn<QString>("toolTip"); // of a hand-written line naming the target
    QTest::newRow("a regular file") << "$FILE" << false << "not a serial line: a regular file — $FILE";
    QTest::newRow("a folder") << "$DIR" << false << "not a serial line: a folder — $DIR";
    QTest::newRow("/dev/null") << "/dev/null" << false << "/dev/null (not a serial line) — /dev/null";
    QTest::newRow("/dev/zero") << "/dev/zero" << false << "/dev/zero (not a serial line) — /dev/zero";
    QTest::newRow("/dev/tty") << "/dev/tty" << false
                              << "/dev/tty (the controlling terminal, not a serial line) — /dev/tty";
    QTest::newRow("/dev/ptmx")
        << "/dev/ptmx" << false
        << "/dev/ptmx (the pseudo-terminal multiplexer, not a serial line) — /dev/ptmx";
    QTest::newRow("a pty") << "$PTY" << true << "pty — $PTY";
}

void TestPortAssignment::onlySerialLinesGetNumbers() {
    QFETCH(QString, target);
    QFETCH(bool, numbered);
    QFETCH(QString, toolTip);
    QTemporaryDir dir;
    const Pty adapter, other;
    QVERIFY2(adapter.isValid() && other.isValid(), qPrintable(adapter.error() + other.error()));
    QFile file(dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly) && QDir().mkpath(dir.filePath("by-id/folder")));
    for (QString* text : {&target, &toolTip})
        text->replace("$FILE", file.fileName())
            .replace("$DIR", dir.filePath("by-id/folder"))
            .replace("$PTY", other.slavePath());
    QVERIFY(QFile::link(target, dir.filePath("by-id/usb-0-junk")));
    QVERIFY(QFile::link(adapter.slavePath(), dir.filePath("by-id/usb-1-adapter")));
    const SystemSerialDevices listing(dir.filePath("by-id"), [&target] {
        return QList<PresentDevice>{{QString(), target, "pty", {}, {}}};
    });
    const QString settings = dir.filePath("settings.ini");
    PortAssignmentResult result = applyPortAssignment(settings, listing);
    QCOMPARE(result.writeError, QString());
    QFile written(settings);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QString adapterLine = "=" + dir.filePath("by-id/usb-1-adapter") + "\n";
    QCOMPARE(QString(written.readAll()),
             numbered ? "[Ports]\nCOM1=" + dir.filePath("by-id/usb-0-junk") + "\nCOM2" + adapterLine
                      : "[Ports]\nCOM1" + adapterLine);
    result.map.lines.insert(9, target);
    QCOMPARE(result.map.toolTip(9), toolTip);
}

QTEST_GUILESS_MAIN(TestPortAssignment)
#include "tst_port_assignment.moc"
