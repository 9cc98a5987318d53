// Tests of the port menu following adapters plugged in and pulled out while the window runs.
#include "FormRig.h"

#include "SerialDeviceListing.h"
#include "UpdateEngine.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>

namespace {
// An adapter as udev shows it: a node in the rig's /dev and a stable link to it in by-id.
struct Adapter {
    QString node, link;
};

Adapter plugIn(FormRig& rig, const QString& name) {
    const Adapter adapter{rig.devFolder() + "/tty" + name,
                          rig.byIdFolder() + "/usb-Kestrune_" + name + "-port0"};
    QFile node(adapter.node);
    node.open(QIODevice::WriteOnly);
    node.close();
    QDir().mkpath(rig.byIdFolder());
    QFile::link(adapter.node, adapter.link);
    return adapter;
}

void pullOut(const Adapter& adapter) {
    QFile::remove(adapter.link);
    QFile::remove(adapter.node);
}

QString portsLine(FormRig& rig, int com) {
    QSettings settings(rig.settingsFile(), QSettings::IniFormat);
    return settings.value(QStringLiteral("Ports/COM%1").arg(com)).toString();
}

int opensIn(const QStringList& log) {
    return int(log.filter(QRegularExpression("^(open|fail) ")).size());
}

// The real listing over the rig's by-id folder; the system reports no ports of its own.
SystemSerialDevices listingOf(const FormRig& rig) {
    // The rig's nodes are plain files standing for serial lines.
    return SystemSerialDevices(
        rig.byIdFolder(), [] { return QList<PresentDevice>(); }, [](const QString&) { return true; });
}
} // namespace

class TestMenuFollowsHardware : public QObject {
    Q_OBJECT
private slots:
    void menuFollowsTheHardware_data();
    void menuFollowsTheHardware();
    void nothingChangesDuringASession_data();
    void nothingChangesDuringASession();
    void busyAtStartStaysHiddenAndTheMenuOpensNothing();
};

void TestMenuFollowsHardware::menuFollowsTheHardware_data() {
    QTest::addColumn<bool>("byIdAtStart"); // the by-id folder exists before the first adapter
    QTest::addColumn<bool>("plug");        // else an adapter present at start is pulled out
    QTest::addColumn<bool>("openWhenPulled");
    QTest::addColumn<bool>("byIdRemade"); // removed and made again before the link comes
    QTest::newRow("plugged in later") << true << true << false << false;
    QTest::newRow("plugged in with the first by-id link") << false << true << false << false;
    QTest::newRow("pulled out") << true << false << false << false;
    QTest::newRow("pulled out while open, gone once its line is lost") << true << false << true << false;
    // The node is there before: only the by-id folder's own watch can tell of the link.
    QTest::newRow("plugged in after the by-id folder was made again") << true << true << false << true;
}

// Through the real folder watch and event loop: a link made after start-up is a new Com item
// within 2 s with its [Ports] line written, and updates a module; one removed goes.
void TestMenuFollowsHardware::menuFollowsTheHardware() {
    QFETCH(bool, byIdAtStart);
    QFETCH(bool, plug);
    QFETCH(bool, openWhenPulled);
    QFETCH(bool, byIdRemade);
    FormRig rig({1});
    rig.storeSetting("Ports/COM1", rig.devFolder() + "/ttyS0");
    if (byIdAtStart)
        QDir().mkpath(rig.byIdFolder());
    Adapter present;
    if (!plug) {
        present = plugIn(rig, "USB0");
        rig.serial.usablePorts.insert(2);
    }
    SystemSerialDevices listing = listingOf(rig);
    Form1Seams seams = rig.seams();
    seams.deviceListing = &listing;
    Form1& form = rig.start(seams);
    QCOMPARE(form.comItem(2)->isVisible(), !plug);
    QCOMPARE(rig.prompts.messages.size(), 0);

    if (plug) {
        rig.serial.usablePorts.insert(2);
        rig.probe.usablePorts.insert(2);
        Adapter adapter;
        if (byIdRemade) {
            adapter = plugIn(rig, "USB1");
            QFile::remove(adapter.link);
            QTest::qWait(500);
            QVERIFY(QDir(rig.byIdFolder()).removeRecursively());
            QTest::qWait(500);
            QVERIFY(QDir().mkpath(rig.byIdFolder()));
            QTest::qWait(500);
        }
        QElapsedTimer since;
        since.start();
        if (byIdRemade)
            QVERIFY(QFile::link(adapter.node, adapter.link));
        else
            adapter = plugIn(rig, "USB1");
        QVERIFY(QTest::qWaitFor([&] { return form.comItem(2)->isVisible(); }, 2000));
        QVERIFY2(since.elapsed() < 2000, qPrintable(QString::number(since.elapsed())));
        QCOMPARE(portsLine(rig, 2), adapter.link);
        QCOMPARE(rig.probe.log.size(), 2); // tried once, then closed
        QVERIFY(rig.probe.log[0].startsWith("open 2"));
        QVERIFY(form.comItem(2)->toolTip().contains(adapter.link));
        QVERIFY(!form.comItem(0)->isVisible());

        const QByteArray image = rig.writeImage("QVL-GEN-A.bin", 65536);
        form.comItem(2)->trigger();
        QVERIFY(form.comItem(2)->isChecked());
        form.updateCommand();
        QCOMPARE(rig.module->completedImage, image);
        QCOMPARE(rig.serial.CommPort(), 2);
        return;
    }
    if (openWhenPulled)
        form.com_Click(2);
    pullOut(present);
    if (!openWhenPulled) {
        QVERIFY(QTest::qWaitFor([&] { return !form.comItem(2)->isVisible(); }, 2000));
        QVERIFY(form.comItem(1)->isVisible());
        QCOMPARE(portsLine(rig, 2), present.link); // the line stays for the next time
        return;
    }
    QTest::qWait(800);
    QVERIFY(form.comItem(2)->isVisible());
    QVERIFY(form.comItem(2)->isChecked());
    rig.serial.hangUp();
    QVERIFY(QTest::qWaitFor([&] { return !form.comItem(2)->isVisible(); }, 2000));
    QVERIFY(!form.comItem(2)->isChecked());
}

void TestMenuFollowsHardware::nothingChangesDuringASession_data() {
    QTest::addColumn<QString>("during");
    QTest::newRow("update") << "update";
    QTest::newRow("communication test") << "communication test";
    // A network port's connect runs the event loop: the change waits for the open to end.
    QTest::newRow("the open of a chosen port") << "open";
}

// A port tried mid-session would share the session's line; the menu changes once it has ended.
void TestMenuFollowsHardware::nothingChangesDuringASession() {
    QFETCH(QString, during);
    FormRig rig({1});
    rig.storeSetting("Settings/COM-Port", "1");
    rig.storeSetting("Ports/COM1", rig.devFolder() + "/ttyS0");
    rig.probe.usablePorts = {2};
    const QByteArray image = rig.writeImage("QVL-GEN-A.bin", 65536);
    SystemSerialDevices listing = listingOf(rig);
    Form1Seams seams = rig.seams();
    seams.deviceListing = &listing;
    Form1& form = rig.start(seams);
    QVERIFY(!form.comItem(2)->isVisible());
    bool shownMidSession = true;
    int probedMidSession = -1;
    QString lineMidSession = "unread";
    const auto plugInMidSession = [&] {
        plugIn(rig, "USB1");
        QTest::qWait(900); // the watch tells, and the window is told to wait
        emit form.Comport->aboutToShow();
        shownMidSession = form.comItem(2)->isVisible();
        probedMidSession = opensIn(rig.probe.log);
        lineMidSession = portsLine(rig, 2);
    };
    if (during == "open") {
        rig.serial.whileOpening = [&] {
            rig.serial.whileOpening = nullptr;
            plugInMidSession();
        };
        form.comItem(1)->trigger();
    } else {
        rig.world.at(2500, plugInMidSession);
        if (during == "communication test")
            QTest::keyClick(form.Text_Filename, Qt::Key_T, Qt::ControlModifier);
        else
            form.updateCommand();
    }
    QVERIFY(!shownMidSession);
    QCOMPARE(probedMidSession, 0);
    QCOMPARE(lineMidSession, QString());
    QVERIFY(form.comItem(2)->isVisible());
    QCOMPARE(opensIn(rig.probe.log), 1);
    QVERIFY(form.comItem(1)->isChecked());
    QCOMPARE(rig.serial.CommPort(), 1);
    if (during == "update")
        QCOMPARE(rig.module->completedImage, image);
}

// A port busy at start-up is not tried again for the run, and opening the menu opens nothing;
// it takes up at once an adapter the watch has not told of yet.
void TestMenuFollowsHardware::busyAtStartStaysHiddenAndTheMenuOpensNothing() {
    FormRig rig({1});
    rig.storeSetting("Ports/COM1", rig.devFolder() + "/ttyS0");
    QDir().mkpath(rig.byIdFolder());
    plugIn(rig, "USB0");
    rig.serial.failures[2] = SerialControl::OpenFailure::Busy;
    SystemSerialDevices listing = listingOf(rig);
    Form1Seams seams = rig.seams();
    seams.deviceListing = &listing;
    Form1& form = rig.start(seams);
    QVERIFY(!form.comItem(2)->isVisible());
    const int opensAtStart = opensIn(rig.serial.log);
    // The other program lets go of it: still not tried, as the device did not come or go.
    rig.serial.usablePorts.insert(2);
    rig.probe.usablePorts = {2, 3};
    for (int i = 0; i < 3; ++i)
        emit form.Comport->aboutToShow();
    QCOMPARE(opensIn(rig.serial.log), opensAtStart);
    QCOMPARE(opensIn(rig.probe.log), 0);

    const Adapter adapter = plugIn(rig, "USB1");
    emit form.Comport->aboutToShow();
    QVERIFY(form.comItem(3)->isVisible()); // before the watch's settle time
    QCOMPARE(portsLine(rig, 3), adapter.link);
    QTest::qWait(800);
    emit form.Comport->aboutToShow();
    QCOMPARE(rig.probe.log.filter(QRegularExpression("^open ")), QStringList{rig.probe.log.first()});
    QVERIFY(rig.probe.log.first().startsWith("open 3"));
    QVERIFY(!form.comItem(2)->isVisible());
    QCOMPARE(opensIn(rig.serial.log), opensAtStart);
}

QTEST_MAIN(TestMenuFollowsHardware)
#include "tst_menu_follows_hardware.moc"
