#pragma once

#include <QList>
#include <QString>

class SystemView;

struct ProcessHold {
    qint64 pid = 0;
    QString name; // the command name, as the kernel keeps it
};

// Who has a file open, from the descriptors under /proc/<pid>/fd. The process itself is left
// out: what it holds is no other program's.
struct HoldersFound {
    QList<ProcessHold> holders;
    int hidden = 0; // processes whose descriptors this user may not read
};

HoldersFound findHolders(const SystemView& system, const QStringList& paths);
// The command name of a process, empty when there is no such process.
QString processName(const SystemView& system, qint64 pid);
// The processes running under that command name.
QList<qint64> processesNamed(const SystemView& system, const QString& name);
// A file every shell holds (a null device named by mistake) would give a page of names.
constexpr qsizetype MaxNamedHolders = 5;
// "minicom (PID 4242)", and "minicom (PID 4242) and screen (PID 77)"; past MaxNamedHolders,
// "... and 12 more".
QString namedHolders(const QList<ProcessHold>& holders);
