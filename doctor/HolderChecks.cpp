// Who holds a device: the processes with it open, and a UUCP lock file in the lock folders.
#include "LocalChecks.h"

#include "SystemView.h"

#include <QFile>
#include <QFileInfo>

PortCheck holdersCheck(const HoldersFound& found, const SystemView&, const DeviceFacts& facts) {
    PortCheck check{QStringLiteral("holders"), PortCheck::Status::Ok, QString(), QString(), QString()};
    if (!found.holders.isEmpty()) {
        const QString named = namedHolders(found.holders);
        QStringList pids;
        for (const ProcessHold& holder : found.holders.mid(0, MaxNamedHolders))
            pids << QString::number(holder.pid);
        check.status = PortCheck::Status::Problem;
        check.text = QStringLiteral("%1 is in use by %2").arg(facts.resolved, named);
        check.fix = QStringLiteral("close that program, or end it: kill %1").arg(pids.join(QLatin1Char(' ')));
        check.cause = QStringLiteral("it is in use by %1").arg(named);
    } else if (found.hidden > 0) {
        check.status = PortCheck::Status::Unknown;
        check.text = QStringLiteral("none of your processes holds it; other users' processes cannot be seen");
        check.fix = QStringLiteral("run with sudo to see them");
    } else {
        check.text = QStringLiteral("no process holds it");
    }
    return check;
}

namespace {
// The PID in a lock file: ten digits in text (the UUCP way, and Qt's first line), or a 4-byte
// binary number from old programs.
qint64 lockPid(const QByteArray& bytes) {
    bool number = false;
    const qint64 pid = bytes.split('\n').value(0).trimmed().toLongLong(&number);
    if (number)
        return pid;
    if (bytes.size() == 4) {
        qint32 binary = 0;
        memcpy(&binary, bytes.constData(), 4);
        return binary;
    }
    return 0;
}
} // namespace

PortCheck lockFileCheck(const SystemView& system, const DeviceFacts& facts) {
    PortCheck check{QStringLiteral("lock-file"), PortCheck::Status::Ok, QStringLiteral("no lock file"),
                    QString(), QString()};
    QString name = facts.ttyName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const QString& folder : system.lockFolders) {
        const QString path = folder + QStringLiteral("/LCK..") + name;
        QFile lock(path);
        if (!QFileInfo(path).isFile() || !lock.open(QIODevice::ReadOnly))
            continue;
        const qint64 pid = lockPid(lock.read(128));
        const QString holder = pid > 0 ? processName(system, pid) : QString();
        if (pid > 0 && pid == system.ownPid())
            continue;
        if (!holder.isEmpty()) {
            check.status = PortCheck::Status::Problem;
            check.text = QStringLiteral("%1 holds the lock file %2").arg(namedHolders({{pid, holder}}), path);
            check.fix = QStringLiteral("close that program, or end it: kill %1").arg(pid);
            check.cause = QStringLiteral("it is locked by %1").arg(namedHolders({{pid, holder}}));
        } else {
            // Our own open takes no notice of a stale lock; programs that honour such locks do.
            check.text = QStringLiteral("a stale lock file %1: its process%2 has ended")
                             .arg(path, pid > 0 ? QStringLiteral(" (PID %1)").arg(pid) : QString());
            check.fix = QStringLiteral("sudo rm %1").arg(path);
        }
        return check;
    }
    return check;
}
