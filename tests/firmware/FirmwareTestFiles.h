#pragma once

// Small helpers for the firmware library tests: files with given content and age, and a
// second process that holds an advisory lock on a file until it is told to let go.

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

namespace fwtest {

inline bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline bool setModified(const QString& path, const QDateTime& when) {
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(when, QFileDevice::FileModificationTime);
}

// A fixed, whole-second base time, far from any file the test itself writes.
inline QDateTime baseTime() {
    return QDateTime(QDate(2021, 3, 14), QTime(12, 0, 0), Qt::UTC);
}

// Another process holding flock() on a file. The shell opens the file on descriptor 9,
// flock(1) locks that descriptor, and the shell then becomes `sleep`, so one process
// holds the lock and killing it releases the lock at once.
class LockHolder {
public:
    LockHolder() = default;
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    ~LockHolder() { release(); }

    // True once the other process holds the lock.
    bool hold(const QString& path, bool shared = false) {
        const QString script =
            QStringLiteral("exec 9<\"$1\" && flock %1 -n 9 && echo locked && exec sleep 30")
                .arg(shared ? QStringLiteral("-s") : QStringLiteral("-x"));
        process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, QStringLiteral("sh"), path});
        if (!process.waitForStarted(5000))
            return false;
        QByteArray said;
        while (!said.contains("locked")) {
            if (process.state() != QProcess::Running && process.bytesAvailable() == 0)
                return false;
            if (!process.waitForReadyRead(5000) && process.bytesAvailable() == 0)
                return false;
            said += process.readAllStandardOutput();
        }
        return true;
    }

    void release() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill();
        process.waitForFinished(5000);
    }

    bool holding() const { return process.state() == QProcess::Running; }

private:
    QProcess process;
};

} // namespace fwtest
