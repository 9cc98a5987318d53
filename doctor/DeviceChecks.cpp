// The checks of what a port is: its device and identity, whether it is there, whether it is a line.
#include "LocalChecks.h"

#include "SerialLine.h"
#include "SystemView.h"

#include <QFileInfo>
#include <QStringList>

PortCheck deviceCheck(const DeviceFacts& facts, const QString& mapping) {
    QStringList parts;
    if (!mapping.isEmpty())
        parts << mapping;
    if (!facts.resolved.isEmpty() && facts.resolved != facts.given)
        parts << QStringLiteral("%1 leads to %2").arg(facts.given, facts.resolved);
    else if (!facts.given.isEmpty() && mapping.isEmpty())
        parts << facts.given;
    if (!facts.byId.isEmpty() && facts.byId != facts.given)
        parts << QStringLiteral("by-id %1").arg(QFileInfo(facts.byId).fileName());
    const QString identity = facts.identity();
    if (!identity.isEmpty())
        parts << identity;
    return {QStringLiteral("device"), PortCheck::Status::Ok, parts.join(QStringLiteral("; ")), QString(),
            QString()};
}

PortCheck presentCheck(const DeviceFacts& facts) {
    PortCheck check{QStringLiteral("present"), PortCheck::Status::Ok, QString(), QString(), QString()};
    if (!facts.resolved.isEmpty()) {
        check.text = QStringLiteral("%1 is there").arg(facts.resolved);
        return check;
    }
    check.status = PortCheck::Status::Problem;
    const QFileInfo link(facts.given);
    check.text = link.isSymLink() ? QStringLiteral("the link %1 leads to %2, which does not exist")
                                        .arg(facts.given, link.symLinkTarget())
                                  : QStringLiteral("%1 does not exist").arg(facts.given);
    check.fix =
        QStringLiteral("plug in the adapter; `ls -l /dev/serial/by-id/` shows the adapters there, and a "
                       "[Ports] line COMn=PATH maps a COM number to one");
    check.cause = QStringLiteral("it does not exist");
    return check;
}

PortCheck serialLineCheck(const SystemView& system, const DeviceFacts& facts) {
    const SerialLineVerdict verdict = judgeSerialLine(facts.given, system.sysRoot);
    PortCheck check{QStringLiteral("serial-line"), PortCheck::Status::Ok, QString(), QString(), QString()};
    if (verdict.serial) {
        check.text = QStringLiteral("%1 is %2").arg(facts.resolved, verdict.what);
        return check;
    }
    check.status = PortCheck::Status::Problem;
    check.text = QStringLiteral("%1 is no serial line: it is %2").arg(facts.resolved, verdict.what);
    check.fix = QStringLiteral("name the adapter's serial device (/dev/ttyUSB0, /dev/ttyACM0, a link in "
                               "/dev/serial/by-id/) instead");
    check.cause = QStringLiteral("it is no serial line (%1)").arg(verdict.what);
    return check;
}

PortCheck latencyTimerCheck(const DeviceFacts& facts) {
    return {
        QStringLiteral("latency-timer"), PortCheck::Status::Ok,
        QStringLiteral("the adapter's latency timer is %1 ms (how long it holds back a few received bytes)")
            .arg(facts.latencyTimer),
        QString(), QString()};
}
