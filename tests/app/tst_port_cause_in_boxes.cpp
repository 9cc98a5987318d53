// The window's boxes give the cause the port checks find: the program that holds the line.
#include "FormRig.h"
#include "Pty.h"

#include <QProcess>
#include <QtTest>

class TestPortCauseInBoxes : public QObject {
    Q_OBJECT
private slots:
    void failedOpenNamesTheCause_data();
    void failedOpenNamesTheCause();
};

Q_DECLARE_METATYPE(SerialControl::OpenFailure)

void TestPortCauseInBoxes::failedOpenNamesTheCause_data() {
    QTest::addColumn<SerialControl::OpenFailure>("failure"); // what the open says
    QTest::addColumn<bool>("held");                          // a child holds the line
    QTest::addColumn<QString>("reason");                     // {pid}: the child's
    QTest::newRow("busy, held by a child")
        << SerialControl::OpenFailure::Busy << true << "it is in use by sleep (PID {pid})";
    // Nothing more to say of a device that is not there; and no cause found keeps the open's own.
    QTest::newRow("absent") << SerialControl::OpenFailure::Absent << true << "it does not exist";
    QTest::newRow("busy, no holder found")
        << SerialControl::OpenFailure::Busy << false << "it is in use by another program";
}

void TestPortCauseInBoxes::failedOpenNamesTheCause() {
    QFETCH(SerialControl::OpenFailure, failure);
    QFETCH(bool, held);
    QFETCH(QString, reason);
    Pty line;
    QVERIFY(line.isValid());
    line.letGoOfSlave();
    QProcess holder;
    if (held) {
        holder.setStandardInputFile(line.slavePath());
        holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(holder.waitForStarted());
    }
    reason.replace(QStringLiteral("{pid}"), QString::number(holder.processId()));

    FormRig rig(QSet<int>{});
    rig.serial.failures[3] = failure;
    rig.storeSetting(QStringLiteral("Ports/COM3"), line.slavePath());
    Form1Seams seams = rig.seams();
    seams.portCause = {}; // the real checks
    Form1& form = rig.start(seams);
    QCOMPARE(rig.prompts.texts(), QStringList{"No Com Ports available!"});
    const QString detail = rig.prompts.messages.first().detail;
    if (failure != SerialControl::OpenFailure::Absent && held)
        QVERIFY2(detail.contains(QStringLiteral("COM3: %1: %2").arg(line.slavePath(), reason)),
                 qPrintable(detail));

    rig.prompts.messages.clear();
    form.com_Click(3);
    QCOMPARE(rig.prompts.texts(), QStringList{QStringLiteral("Com3 could not be opened: %1.").arg(reason)});
}

QTEST_MAIN(TestPortCauseInBoxes)
#include "tst_port_cause_in_boxes.moc"
