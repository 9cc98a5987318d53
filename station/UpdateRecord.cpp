// The record of updates: the line of one finished session, the record file and its appending.
#include "UpdateRecord.h"

#include "SafeFileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

QJsonObject UpdateRecordEntry::toJson() const {
    return QJsonObject{
        {QStringLiteral("time"), time.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("frontEnd"), frontEnd},
        {QStringLiteral("port"), port},
        {QStringLiteral("device"), device},
        {QStringLiteral("image"), imagePath},
        {QStringLiteral("bytes"), bytes},
        {QStringLiteral("sectors"), sectors},
        {QStringLiteral("sha256"), sha256},
        {QStringLiteral("module"), module},
        {QStringLiteral("restarts"), restarts},
        // Milliseconds are all a reader of the record can use.
        {QStringLiteral("seconds"), qRound64(seconds * 1000) / 1000.0},
        {QStringLiteral("result"), result},
        {QStringLiteral("message"), message},
    };
}

QString resultName(SessionOutcome outcome) {
    switch (outcome) {
    case SessionOutcome::Success:
        return QStringLiteral("success");
    case SessionOutcome::Failed:
        return QStringLiteral("failed");
    case SessionOutcome::NoModule:
        return QStringLiteral("no-module");
    case SessionOutcome::PortError:
        return QStringLiteral("port-error");
    case SessionOutcome::LineLost:
        return QStringLiteral("line-lost");
    case SessionOutcome::Interrupted:
        return QStringLiteral("interrupted");
    case SessionOutcome::ImageRefused:
        return QStringLiteral("image-refused");
    case SessionOutcome::None:
        break;
    }
    return QStringLiteral("none");
}

UpdateRecordEntry updateRecordEntry(const SessionReport& report, const QString& frontEnd, const QString& port,
                                    const QString& device, const QDateTime& time) {
    UpdateRecordEntry entry;
    entry.time = time;
    entry.frontEnd = frontEnd;
    entry.port = port;
    entry.device = device;
    entry.imagePath = report.imagePath;
    entry.bytes = report.imageBytes;
    entry.sectors = report.sectors;
    entry.sha256 = QString::fromLatin1(report.sha256);
    entry.module = report.module;
    entry.restarts = report.restarts;
    entry.seconds = report.seconds;
    entry.result = resultName(report.outcome);
    entry.message = report.message;
    return entry;
}

QString defaultRecordFile() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative value is invalid and must be ignored, as for every XDG base directory.
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Kestrune_Update_Utility/updates.jsonl");
}

namespace {
QString systemError() {
    return systemErrorText(errno);
}

// Another writer holds the record only for one line, so a lock that stays taken belongs to a
// program that hangs: given up after a while instead of waiting with it.
constexpr int LockAttempts = 500;
constexpr useconds_t LockRetryMicroseconds = 10000;

bool lockRecord(int fd) {
    for (int attempt = 0; attempt < LockAttempts; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        ::usleep(LockRetryMicroseconds);
    }
    errno = EWOULDBLOCK;
    return false;
}

bool writeAll(const RecordWrite& write, int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t put = write(fd, data, length);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            return false;
        }
        data += put;
        length -= size_t(put);
    }
    return true;
}

// Root may append to anything; a record the owner may not write was made read-only on purpose.
bool readOnlyRefusal(const struct stat& seen, QString& error) {
    if (seen.st_mode == 0 || (seen.st_mode & S_IWUSR) != 0)
        return true;
    error = QStringLiteral("it is read-only");
    return false;
}

// Opens the record for appending, refusing anything but a regular file. A symbolic link to one
// is followed: a bench may keep its record on a share and link it here.
int openRecord(const QByteArray& path, QString& error) {
    struct stat existing {};
    if (::stat(path.constData(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        error = QStringLiteral("it is not a regular file");
        return -1; // not even opened: a serial device would see its DTR line raised
    }
    if (!readOnlyRefusal(existing, error))
        return -1;
    // Read access too, for the look at the last byte; a record only its writers may write
    // (mode 0200) is appended to without that look.
    int fd = -1;
    for (const int access : {O_RDWR, O_WRONLY}) {
        do
            fd = ::open(path.constData(), access | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                        0644);
        while (fd < 0 && errno == EINTR);
        if (fd >= 0 || errno != EACCES)
            break;
    }
    if (fd < 0) {
        error = systemError();
        return -1;
    }
    // Opened without waiting: a FIFO or a device swapped in after the look above would
    // otherwise hold the program for good. Only a regular file takes the record.
    struct stat seen {};
    if (::fstat(fd, &seen) != 0 || !S_ISREG(seen.st_mode)) {
        ::close(fd);
        error = QStringLiteral("it is not a regular file");
        return -1;
    }
    if (!readOnlyRefusal(seen, error)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_APPEND); // blocking again: the line must go out whole
    return fd;
}

// Appends one line under the lock. A record whose last line was cut short (a full disk before
// this version, an editor) gets its newline first, so that the new line stands on its own; a
// line that does not go out whole is taken back, so that no reader meets half a line.
bool appendLine(int fd, const QByteArray& line, const RecordWrite& put, QString& error) {
    if (!lockRecord(fd)) {
        error = errno == EWOULDBLOCK ? QStringLiteral("another program has held it locked for 5 s")
                                     : systemError();
        return false;
    }
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        error = systemError();
        return false;
    }
    QByteArray out = line;
    char last = '\n';
    if (before.st_size > 0 && ::pread(fd, &last, 1, before.st_size - 1) == 1 && last != '\n')
        out.prepend('\n');
    if (!writeAll(put, fd, out.constData(), size_t(out.size()))) {
        error = systemError();
        if (::ftruncate(fd, before.st_size) != 0)
            error += QStringLiteral("; the part written could not be removed: %1").arg(systemError());
        return false;
    }
    if (::fsync(fd) != 0) {
        error = QStringLiteral("it cannot be flushed to disk: %1").arg(systemError());
        return false;
    }
    return true;
}
} // namespace

bool appendUpdateRecord(const QString& file, const UpdateRecordEntry& entry, QString& error) {
    return appendUpdateRecord(file, entry, error, &::write);
}

bool appendUpdateRecord(const QString& file, const UpdateRecordEntry& entry, QString& error,
                        const RecordWrite& put) {
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("the folder %1 cannot be created").arg(folder);
        return false;
    }
    QByteArray line = QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact);
    line.append('\n');

    const int fd = openRecord(QFile::encodeName(file), error);
    if (fd < 0)
        return false;
    bool ok = appendLine(fd, line, put, error);
    // Closing also gives up the lock.
    if (::close(fd) != 0 && ok) {
        error = QStringLiteral("it cannot be closed: %1").arg(systemError());
        ok = false;
    }
    return ok;
}
