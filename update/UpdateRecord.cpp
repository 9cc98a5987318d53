// The record of updates: the line of one finished session, the record file and its appending.
#include "UpdateRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    return QString::fromLocal8Bit(std::strerror(errno));
}
} // namespace

bool appendUpdateRecord(const QString& file, const UpdateRecordEntry& entry, QString& error) {
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("the folder %1 cannot be created").arg(folder);
        return false;
    }
    QByteArray line = QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact);
    line.append('\n');

    const QByteArray path = QFile::encodeName(file);
    struct stat existing {};
    if (::stat(path.constData(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        error = QStringLiteral("%1 is not a regular file").arg(file);
        return false; // not even opened: a serial device would see its DTR line raised
    }
    int fd;
    do
        fd =
            ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = QStringLiteral("%1 cannot be opened: %2").arg(file, systemError());
        return false;
    }
    // Opened without waiting: a FIFO or a device put where the record belongs would otherwise
    // hold the program for good. Only a regular file takes the record.
    struct stat seen {};
    if (::fstat(fd, &seen) != 0 || !S_ISREG(seen.st_mode)) {
        ::close(fd);
        error = QStringLiteral("%1 is not a regular file").arg(file);
        return false;
    }
    ::fcntl(fd, F_SETFL, O_APPEND); // blocking again: the line must go out whole
    // One write of the whole line: split into several, another session's line could land
    // between the pieces.
    ssize_t written;
    do
        written = ::write(fd, line.constData(), size_t(line.size()));
    while (written < 0 && errno == EINTR);
    bool ok = true;
    if (written < 0) {
        error = QStringLiteral("%1 cannot be written: %2").arg(file, systemError());
        ok = false;
    } else if (written != line.size()) {
        error = QStringLiteral("%1 took only %2 of %3 bytes (is the disk full?)")
                    .arg(file)
                    .arg(written)
                    .arg(line.size());
        ok = false;
    } else if (::fsync(fd) != 0) {
        error = QStringLiteral("%1 cannot be flushed to disk: %2").arg(file, systemError());
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = QStringLiteral("%1 cannot be closed: %2").arg(file, systemError());
        ok = false;
    }
    return ok;
}
