// A station's slot cycle on the simulated clock: modules put on and taken off a lead, the rule for
// "gone", --count, stops in each state, a lost line, and an image that changes during the run.
#include "EngineRig.h"
#include "SimLead.h"
#include "StationRules.h"
#include "StationSlot.h"
#include "UpdateRecord.h"

#include <QtTest>

namespace {
// The states a slot went through, one letter each, repeats dropped: E empty, S switch off,
// U updating, P PASS, F FAIL, R remove (line back), L line lost, X ended.
QChar letter(SlotState state) {
    switch (state) {
    case SlotState::Empty:
        return 'E';
    case SlotState::SwitchOff:
        return 'S';
    case SlotState::Updating:
        return 'U';
    case SlotState::Passed:
        return 'P';
    case SlotState::Failed:
        return 'F';
    case SlotState::Remove:
        return 'R';
    case SlotState::LineLost:
        return 'L';
    case SlotState::Ended:
        return 'X';
    }
    return '?';
}

struct Watcher : SlotListener {
    QString trail;
    QStringList updates; // "AA success"
    void slotChanged(const SlotStatus& status) override {
        const QChar now = letter(status.state);
        if (trail.isEmpty() || trail.back() != now)
            trail += now;
    }
    void updateFinished(const SessionReport& report) override {
        updates << report.module + QLatin1Char(' ') + resultName(report.outcome);
    }
};

LeadModule leaves(QByteArray type, int stayMs, int switchOffMs, int awayMs, bool mute = false) {
    return LeadModule{std::move(type), stayMs, switchOffMs, awayMs, mute};
}
LeadModule staysForGood(QByteArray type) {
    return LeadModule{std::move(type), -1, 0, 0, false};
}
} // namespace

using Lead = QList<LeadModule>;
Q_DECLARE_METATYPE(Lead)

class TestStationSlot : public QObject {
    Q_OBJECT
private slots:
    void cycle_data() {
        QTest::addColumn<Lead>("lead");
        QTest::addColumn<int>("firstAtMs"); // the first module is put on then
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("goneAfter");
        QTest::addColumn<int>("stopAtMs");        // 0: none
        QTest::addColumn<QList<int>>("lineLost"); // lost at, back at; empty: never
        QTest::addColumn<int>("imageChangeAtMs"); // 0: never
        QTest::addColumn<QStringList>("updates");
        QTest::addColumn<QString>("trail");

        // Found, updated, gone by an XX (the settle pause is 2 s: the XX comes after it), next one.
        QTest::newRow("gone by XX, next updated")
            << Lead{leaves("AA", 2500, 2000, 500), leaves("AB", 2500, 2000, 500)} << 0 << 2 << 5.0 << 0
            << QList<int>{} << 0 << QStringList{"AA success", "AB success"} << "EUPESEUPX";
        QTest::newRow("gone by silence, next updated")
            << Lead{leaves("AA", 2500, 0, 7000), staysForGood("AC")} << 0 << 2 << 5.0 << 0 << QList<int>{}
            << 0 << QStringList{"AA success", "AC success"} << "EUPEUPX";
        QTest::newRow("a module that stays is not updated twice")
            << Lead{staysForGood("AA")} << 0 << 0 << 5.0 << 60000 << QList<int>{} << 0
            << QStringList{"AA success"} << "EUPX";
        // Taken off for less than --gone-after, the next module passes for the old one.
        QTest::newRow("silence shorter than gone-after: the same module")
            << Lead{leaves("AA", 2500, 0, 4000), staysForGood("AB")} << 0 << 0 << 5.0 << 60000 << QList<int>{}
            << 0 << QStringList{"AA success"} << "EUPX";
        QTest::newRow("the same silence with a shorter gone-after: the next module")
            << Lead{leaves("AA", 2500, 0, 4000), staysForGood("AB")} << 0 << 2 << 2.4 << 0 << QList<int>{}
            << 0 << QStringList{"AA success", "AB success"} << "EUPEUPX";
        QTest::newRow("a failure, its removal, a good module")
            << Lead{leaves("AA", 30000, 0, 6000, true), staysForGood("AB")} << 0 << 2 << 5.0 << 0
            << QList<int>{} << 0 << QStringList{"AA failed", "AB success"} << "EUFEUPX";
        QTest::newRow("--count 1 ends after the first update, no wait for removal")
            << Lead{leaves("AA", 0, 0, 0), staysForGood("AB")} << 0 << 1 << 5.0 << 0 << QList<int>{} << 0
            << QStringList{"AA success"} << "EUPX";
        QTest::newRow("stop while empty")
            << Lead{} << 0 << 0 << 5.0 << 5000 << QList<int>{} << 0 << QStringList{} << "EX";
        QTest::newRow("stop while updating") << Lead{staysForGood("AA")} << 0 << 0 << 5.0 << 3000
                                             << QList<int>{} << 0 << QStringList{"AA interrupted"} << "EUFX";
        QTest::newRow("stop while waiting for removal")
            << Lead{staysForGood("AA")} << 0 << 0 << 5.0 << 20000 << QList<int>{} << 0
            << QStringList{"AA success"} << "EUPX";
        // Back, the slot cannot know what was put on meanwhile: it waits for silence first.
        QTest::newRow("line lost while empty, then back")
            << Lead{staysForGood("AA")} << 12000 << 1 << 5.0 << 0 << QList<int>{1000, 5000} << 0
            << QStringList{"AA success"} << "ELREUPX";
        QTest::newRow("line lost while updating, then back: the module is not updated again")
            << Lead{staysForGood("AA")} << 0 << 0 << 5.0 << 30000 << QList<int>{3000, 7000} << 0
            << QStringList{"AA line-lost"} << "EUFLRX";
        QTest::newRow("image changed mid-update: that update finishes, no other starts")
            << Lead{leaves("AA", 0, 0, 0), staysForGood("AB")} << 0 << 0 << 5.0 << 0 << QList<int>{} << 3000
            << QStringList{"AA success"} << "EUPX";
        QTest::newRow("image changed while empty: ends at once")
            << Lead{} << 0 << 0 << 5.0 << 0 << QList<int>{} << 3000 << QStringList{} << "EX";
    }
    void cycle() {
        QFETCH(Lead, lead);
        QFETCH(int, firstAtMs);
        QFETCH(int, count);
        QFETCH(double, goneAfter);
        QFETCH(int, stopAtMs);
        QFETCH(QList<int>, lineLost);
        QFETCH(int, imageChangeAtMs);
        QFETCH(QStringList, updates);
        QFETCH(QString, trail);

        EngineRig rig;
        rig.makeImage(2 * 65536);
        FirmwareImage image;
        QCOMPARE(image.load(rig.imagePath), FirmwareImage::Check::Ok);
        rig.engine.useSettledImage(image);
        rig.engine.setSuccessDisplay(false);
        rig.serial.setPortOpen(false);
        SimLead simLead(rig.world, rig.serial, rig.module, lead, firstAtMs);
        StationRules rules(count);
        Watcher watcher;
        StationSlot slot(rig.engine, rig.serial, rig.world, rules, goneAfter, watcher);
        if (stopAtMs > 0)
            rig.world.at(stopAtMs, [&] { slot.stop(); });
        if (!lineLost.isEmpty()) {
            rig.world.at(lineLost[0], [&] {
                rig.serial.usablePorts.clear();
                rig.serial.hangUp();
            });
            rig.world.at(lineLost[1], [&] { rig.serial.usablePorts = {1}; });
        }
        if (imageChangeAtMs > 0)
            rig.world.at(imageChangeAtMs, [&] {
                rules.close(StationRules::Closed::ImageChanged);
                slot.windDown();
            });
        rig.world.limitMs = 10 * 60 * 1000;
        slot.run();

        QCOMPARE(watcher.updates, updates);
        QCOMPARE(watcher.trail, trail);
        QVERIFY(!rig.serial.PortOpen());
        // Every update that went through is one whole image on the module, never a second one.
        const int succeeded = int(updates.filter(QStringLiteral("success")).size());
        QCOMPARE(rig.module.completedTransfers, succeeded);
    }
};

QTEST_GUILESS_MAIN(TestStationSlot)
#include "tst_station_slot.moc"
