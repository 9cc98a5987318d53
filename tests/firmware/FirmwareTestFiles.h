#pragma once

// Helpers for the firmware library tests: files with given content and age, and a second
// process that holds an advisory lock on a file until it is told to let go.

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

namespace fwtest {

// Writes `content`; a valid `modified` becomes the file's modification time.
inline bool writeFile(const QString& path, const QByteArray& content, const QDateTime& modified = {}) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size() &&
           file.flush() &&
           (!modified.isValid() || file.setFileTime(modified, QFileDevice::FileModificationTime));
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Another process holding flock() on a file: the shell opens it on descriptor 9, flock(1)
// locks that descriptor and the shell becomes `sleep`, so killing it releases the lock.
class LockHolder {
public:
    ~LockHolder() { release(); }

    // True once the other process holds the lock.
    bool hold(const QString& path, bool shared = false) {
        const QString script =
            QStringLiteral("exec 9<\"$1\" && flock %1 -n 9 && echo locked && exec sleep 30")
                .arg(shared ? QStringLiteral("-s") : QStringLiteral("-x"));
        process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, QStringLiteral("sh"), path});
        QByteArray said;
        while (!said.contains("locked") && process.waitForReadyRead(5000))
            said += process.readAllStandardOutput();
        return said.contains("locked");
    }

    void release() {
        process.kill();
        process.waitForFinished(5000);
    }

private:
    QProcess process;
};

} // namespace fwtest
