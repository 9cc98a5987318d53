// The port checks on a made-up system: each hostile state an operator meets, and the fix it gets.
#include "MadeUpSystem.h"
#include "PortDoctor.h"

#include <QtTest>
#include <functional>

// Builds one state of the system and gives the port to check; empty: the adapters without a line.
using Scene = std::function<QString(MadeUpSystem&)>;
Q_DECLARE_METATYPE(Scene)

namespace {
MadeUpSystem::Usb ch340() {
    MadeUpSystem::Usb usb;
    usb.vendor = QStringLiteral("1a86");
    usb.product = QStringLiteral("7523");
    usb.maker = QString();
    usb.name = QStringLiteral("USB Serial");
    usb.serial = QString();
    usb.driver = QStringLiteral("ch341");
    usb.address = 5;
    return usb;
}

MadeUpSystem::Usb acm() {
    MadeUpSystem::Usb usb;
    usb.tty = QStringLiteral("ttyACM0");
    usb.vendor = QStringLiteral("2341");
    usb.product = QStringLiteral("0043");
    usb.driver = QStringLiteral("cdc_acm");
    usb.devNumber = QStringLiteral("166:0");
    return usb;
}
} // namespace

class TestDoctorChecks : public QObject {
    Q_OBJECT
private slots:
    void checks_data();
    void checks();
};

void TestDoctorChecks::checks_data() {
    QTest::addColumn<Scene>("scene");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("text"); // a part of it
    QTest::addColumn<QString>("fix");  // a part of it

    const auto usb = [](MadeUpSystem::Usb with = {}) {
        return [with](MadeUpSystem& s) { return s.addUsb(with); };
    };
    QTest::newRow("identity of a USB adapter")
        << Scene(usb()) << "device"
        << "ok"
        << "USB 0403:6001 FTDI FT232R USB UART, serial A10KZ3X1, driver ftdi_sio"
        << "";
    QTest::newRow("held by a process") << Scene([](MadeUpSystem& s) {
        const QString port = s.addUsb({});
        s.addProcess(4242, "minicom", {"/dev/null", port});
        s.addProcess(4300, "bash", {"/dev/null"});
        return port;
    }) << "holders"
                                       << "problem"
                                       << "in use by minicom (PID 4242)"
                                       << "kill 4242";
    QTest::newRow("held by this process itself: no holder") << Scene([](MadeUpSystem& s) {
        const QString port = s.addUsb({});
        s.selfPid = 77;
        s.addProcess(77, "kestrune-update", {port});
        return port;
    }) << "holders"
                                                            << "ok"
                                                            << "no process holds it"
                                                            << "";
    QTest::newRow("held through its by-id link") << Scene([](MadeUpSystem& s) {
        const QString link = s.addByIdLink("usb-FTDI_A10KZ3X1-if00-port0", s.addUsb({}));
        s.addProcess(4242, "screen", {link});
        return link;
    }) << "holders"
                                                 << "problem"
                                                 << "screen (PID 4242)"
                                                 << "kill 4242";
    QTest::newRow("live lock file") << Scene([](MadeUpSystem& s) {
        s.addProcess(4243, "cu");
        s.addLockFile("ttyUSB0", "      4243\n");
        return s.addUsb({});
    }) << "lock-file"
                                    << "problem"
                                    << "cu (PID 4243) holds the lock file"
                                    << "kill 4243";
    QTest::newRow("stale lock file") << Scene([](MadeUpSystem& s) {
        s.addLockFile("ttyUSB0", "       999\n");
        return s.addUsb({});
    }) << "lock-file"
                                     << "ok"
                                     << "stale lock file"
                                     << "sudo rm ";
    QTest::newRow("not in the group") << Scene([](MadeUpSystem& s) {
        s.accessAllowed = false;
        s.userGroups = {1000};
        s.loginGroups = {1000};
        return s.addUsb({});
    }) << "access"
                                      << "problem"
                                      << "alice is not in the group dialout"
                                      << "sudo usermod -aG dialout alice, then log out and in again";
    QTest::newRow("in the group, but not in this login")
        << Scene([](MadeUpSystem& s) {
               s.accessAllowed = false;
               s.userGroups = {1000, s.deviceGroup()};
               s.loginGroups = {1000};
               return s.addUsb({});
           })
        << "access"
        << "problem"
        << "you are in the group dialout, but this login session is not yet"
        << "log out and in again";
    QTest::newRow("under sudo: judged for SUDO_USER, not root") << Scene([](MadeUpSystem& s) {
        s.sudo = "bob";
        s.userGroups = {1000};
        return s.addUsb({});
    }) << "access"
                                                                << "problem"
                                                                << "judged for bob from SUDO_USER"
                                                                << "sudo usermod -aG dialout bob";
    QTest::newRow("ModemManager with a ttyACM device")
        << Scene([](MadeUpSystem& s) {
               s.addProcess(612, "ModemManager");
               return s.addUsb(acm());
           })
        << "modemmanager"
        << "problem"
        << "ModemManager (PID 612) probes this ttyACM device"
        << "ATTRS{idVendor}==\"2341\", ATTRS{idProduct}==\"0043\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
    QTest::newRow("ModemManager, ttyACM with the ignore mark") << Scene([](MadeUpSystem& s) {
        s.addProcess(612, "ModemManager");
        s.addUdevProperty("166:0", "ID_MM_DEVICE_IGNORE=1");
        return s.addUsb(acm());
    }) << "modemmanager"
                                                               << "ok"
                                                               << "leaves this device alone"
                                                               << "";
    QTest::newRow("ModemManager, a ttyUSB it would not probe") << Scene([](MadeUpSystem& s) {
        s.addProcess(612, "ModemManager");
        return s.addUsb({});
    }) << "modemmanager"
                                                               << "ok"
                                                               << "does not probe this device"
                                                               << "";
    QTest::newRow("ModemManager, a ttyUSB udev marks for probing") << Scene([](MadeUpSystem& s) {
        s.addProcess(612, "ModemManager");
        s.addUdevProperty("188:0", "ID_MM_DEVICE_PROCESS=1");
        return s.addUsb({});
    }) << "modemmanager"
                                                                   << "problem"
                                                                   << "ID_MM_DEVICE_PROCESS"
                                                                   << "ATTRS{idVendor}==\"0403\"";
    QTest::newRow("brltty holding a CH340's USB node")
        << Scene([](MadeUpSystem& s) {
               MadeUpSystem::Usb taken = ch340();
               taken.withTty = false;
               s.addUsb(taken);
               s.addProcess(530, "brltty", {MadeUpSystem::usbNode(1, 5)});
               return QString();
           })
        << "brltty"
        << "problem"
        << "brltty (PID 530) holds this adapter's USB device /dev/bus/usb/001/005"
        << "sudo apt remove brltty";
    QTest::newRow("an adapter with no tty") << Scene([](MadeUpSystem& s) {
        MadeUpSystem::Usb lost = ch340();
        lost.withTty = false;
        s.addUsb(lost);
        return QString();
    }) << "no-tty"
                                            << "problem"
                                            << "no driver took it"
                                            << "dmesg";
    QTest::newRow("FTDI latency timer") << Scene([](MadeUpSystem& s) {
        MadeUpSystem::Usb ftdi;
        ftdi.latencyMs = "16";
        return s.addUsb(ftdi);
    }) << "latency-timer"
                                        << "ok"
                                        << "latency timer is 16 ms"
                                        << "";
    QTest::newRow("a regular file behind a by-id link") << Scene([](MadeUpSystem& s) {
        return s.addByIdLink("usb-fake-if00", s.addRegularFile("notes.txt"));
    }) << "serial-line"
                                                        << "problem"
                                                        << "is no serial line: it is a regular file"
                                                        << "instead";
    QTest::newRow("a missing device")
        << Scene([](MadeUpSystem& s) { return s.devPath("ttyUSB7"); }) << "present"
        << "problem"
        << "ttyUSB7 does not exist"
        << "plug in the adapter";
}

void TestDoctorChecks::checks() {
    QFETCH(Scene, scene);
    QFETCH(QString, check);
    QFETCH(QString, status);
    QFETCH(QString, text);
    QFETCH(QString, fix);

    if (!MadeUpSystem::canMakeNodes())
        QSKIP("the made-up devices are device nodes, which only root can make");
    MadeUpSystem system;
    const QString port = scene(system);
    PortReport report;
    if (port.isEmpty()) {
        const QList<PortReport> adapters = adaptersWithoutTty(system);
        QCOMPARE(adapters.size(), 1);
        report = adapters.first();
    } else {
        report = checkLocalPort(system, QStringLiteral("COM3"), port, QString(), false);
    }
    const PortCheck* found = report.find(check);
    QVERIFY2(found, qPrintable(QStringLiteral("no check %1").arg(check)));
    QVERIFY2(found->text.contains(text), qPrintable(found->text));
    QCOMPARE(PortCheck::statusName(found->status), status);
    QVERIFY2(found->fix.contains(fix), qPrintable(found->fix));
    // Every problem has a fix an operator can type.
    if (found->status == PortCheck::Status::Problem)
        QVERIFY(!found->fix.isEmpty());
}

QTEST_GUILESS_MAIN(TestDoctorChecks)
#include "tst_doctor_checks.moc"
