// Tests of the serial-line rule against a made-up sysfs tree.
#include "SerialLine.h"

#include "Pty.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TestSerialLine : public QObject {
    Q_OBJECT
private slots:
    void judgedByDeviceNumberAndSysfs_data();
    void judgedByDeviceNumberAndSysfs();
};

// /dev/random (1:8) is a real character device that the rule knows nothing of; the tree says
// what sysfs makes of it. A tree entry is "path" (a folder) or "path>target" (a link).
void TestSerialLine::judgedByDeviceNumberAndSysfs_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("what");
    const QString usb = "devices/pci0/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0";
    const QStringList line{usb + "/device", "dev/char/1:8>../../" + usb, "class/tty/ttyUSB0>../../" + usb};
    QTest::newRow("a tty with a device behind it")
        << "/dev/random" << line << true << "a USB serial adapter (ttyUSB0)";
    QTest::newRow("a tty without a device") << "/dev/random" << QStringList{line[1], line[2], usb} << false
                                            << "a virtual terminal (ttyUSB0), not a serial line";
    QTest::newRow("a device that is no tty") << "/dev/random" << QStringList{line[0], line[1]} << false
                                             << "a character device (ttyUSB0) that is not a terminal";
    QTest::newRow("unknown to sysfs") << "/dev/random" << QStringList{line[0], line[2]} << false
                                      << "a character device (1:8) unknown to sysfs, not a serial line";
    const QStringList asNull{line[0], "dev/char/1:3>../../" + usb, line[2]};
    QTest::newRow("/dev/null whatever sysfs says")
        << "/dev/null" << asNull << false << "/dev/null (not a serial line)";
    QTest::newRow("a pty needs no sysfs") << "$PTY" << QStringList{} << true << "a pseudo-terminal";
    QTest::newRow("a dangling link") << "$ROOT/gone" << line << false << "does not exist";
}

void TestSerialLine::judgedByDeviceNumberAndSysfs() {
    QFETCH(QString, path);
    QFETCH(QStringList, tree);
    QFETCH(bool, serial);
    QFETCH(QString, what);
    QTemporaryDir dir;
    const QString root = dir.filePath("sys/");
    QVERIFY(QDir().mkpath(root));
    for (const QString& entry : tree) {
        const QString where = root + entry.section('>', 0, 0);
        QVERIFY(QDir().mkpath(entry.contains('>') ? QFileInfo(where).path() : where));
        if (entry.contains('>'))
            QVERIFY(QFile::link(entry.section('>', 1), where));
    }
    QVERIFY(QFile::link("nowhere", dir.filePath("sys/gone")));
    const Pty pty;
    path.replace("$PTY", pty.slavePath()).replace("$ROOT", dir.filePath("sys"));
    const SerialLineVerdict verdict = judgeSerialLine(path, dir.filePath("sys"));
    QCOMPARE(verdict.what, what);
    QCOMPARE(verdict.serial, serial);
}

QTEST_GUILESS_MAIN(TestSerialLine)
#include "tst_serial_line.moc"
