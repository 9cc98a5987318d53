// The tests' serial control: records writes, delivers the module's bytes.
#include "FakeSerial.h"

bool FakeSerial::setPortOpen(bool wantOpen) {
    if (!wantOpen) {
        if (open)
            log << QStringLiteral("close %1").arg(CommPort());
        open = false;
        return true;
    }
    if (open)
        return true;
    if (whileOpening)
        whileOpening();
    if (!usablePorts.contains(CommPort())) {
        const OpenFailure why = failures.value(CommPort(), OpenFailure::Absent);
        const QString reason = why == OpenFailure::Busy ? QStringLiteral("it is in use by another program")
                               : why == OpenFailure::PermissionDenied ? QStringLiteral("permission denied")
                                                                      : QStringLiteral("it does not exist");
        setOpenFailure(why, QStringLiteral("/dev/fake%1: %2").arg(CommPort()).arg(reason), reason);
        log << QStringLiteral("fail %1").arg(CommPort());
        return false;
    }
    open = true;
    pending.clear();
    log << QStringLiteral("open %1 in=%2 len=%3 out=%4 threshold=%5")
               .arg(CommPort())
               .arg(InBufferSize())
               .arg(InputLen())
               .arg(OutBufferSize())
               .arg(RThreshold());
    return true;
}

void FakeSerial::Output(const QByteArray& text) {
    if (!open)
        return;
    wire.append(text);
    writes.append(text);
    if (onWrite)
        onWrite(text);
}

QByteArray FakeSerial::Input() {
    QByteArray all;
    all.swap(pending);
    return all;
}

void FakeSerial::deliver(const QByteArray& bytes) {
    if (!open)
        return;
    pending.append(bytes);
    if (RThreshold() > 0 && pending.size() >= RThreshold())
        raise(comEvReceive);
}

void FakeSerial::hangUp() {
    if (!open)
        return;
    open = false;
    log << QStringLiteral("lost %1").arg(CommPort());
    raise(comEventLineLost);
    emit lineLost();
}
