// The process table under /proc: names, and who holds a file open through a descriptor.
#include "ProcessTable.h"

#include "SystemView.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <unistd.h>

namespace {
QList<qint64> allPids(const SystemView& system) {
    QList<qint64> pids;
    const QStringList names = QDir(system.procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool number = false;
        const qint64 pid = name.toLongLong(&number);
        if (number && pid > 0)
            pids << pid;
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

QString linkTarget(const QByteArray& link) {
    char target[4096];
    const ssize_t size = ::readlink(link.constData(), target, sizeof target);
    return size > 0 ? QFile::decodeName(QByteArray(target, int(size))) : QString();
}
} // namespace

QString processName(const SystemView& system, qint64 pid) {
    QFile comm(QStringLiteral("%1/%2/comm").arg(system.procRoot).arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(comm.read(256)).trimmed();
}

QList<qint64> processesNamed(const SystemView& system, const QString& name) {
    QList<qint64> found;
    for (const qint64 pid : allPids(system))
        if (processName(system, pid) == name)
            found << pid;
    return found;
}

HoldersFound findHolders(const SystemView& system, const QStringList& paths) {
    HoldersFound found;
    for (const qint64 pid : allPids(system)) {
        if (pid == system.ownPid())
            continue;
        const QByteArray folder = QFile::encodeName(QStringLiteral("%1/%2/fd").arg(system.procRoot).arg(pid));
        DIR* dir = ::opendir(folder.constData());
        if (!dir) {
            if (errno == EACCES)
                ++found.hidden;
            continue; // or the process has just ended
        }
        bool holds = false;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            if (paths.contains(linkTarget(folder + '/' + entry->d_name))) {
                holds = true;
                break;
            }
        }
        ::closedir(dir);
        if (holds)
            found.holders.append({pid, processName(system, pid)});
    }
    return found;
}

QString namedHolders(const QList<ProcessHold>& holders) {
    QStringList named;
    for (const ProcessHold& holder : holders.mid(0, MaxNamedHolders))
        named << QStringLiteral("%1 (PID %2)")
                     .arg(holder.name.isEmpty() ? QStringLiteral("a process") : holder.name)
                     .arg(holder.pid);
    if (holders.size() > MaxNamedHolders)
        return named.join(QStringLiteral(", ")) +
               QStringLiteral(" and %1 more").arg(holders.size() - MaxNamedHolders);
    if (named.size() <= 1)
        return named.join(QString());
    const QString last = named.takeLast();
    return named.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}
