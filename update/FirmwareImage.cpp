// Reading a firmware image whole, padded to whole sectors, and looking at its file's state.
#include "FirmwareImage.h"

#include "FileState.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int ReadAttempts = 4;
constexpr unsigned long RetryPauseMs = 50;

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

enum class Read { Done, Changed, Failed };

// One read of the whole file. Opened without blocking, so a FIFO put in the image's place
// cannot hold the window; only a regular file is read.
Read readOnce(const QByteArray& path, QByteArray& data, struct stat& state, FirmwareImage::Check& check,
              QString& error) {
    // A serial device is not even opened: opening one raises its DTR line.
    struct stat entry {};
    if (::stat(path.constData(), &entry) == 0 && !S_ISREG(entry.st_mode)) {
        error = QStringLiteral("it is not a file.");
        check = FirmwareImage::Check::CannotOpen;
        return Read::Failed;
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ENOENT ? QStringLiteral("it does not exist.") : systemError(errno);
        check = FirmwareImage::Check::CannotOpen;
        return Read::Failed;
    }
    struct stat before {};
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        error = QStringLiteral("it is not a file.");
        check = FirmwareImage::Check::CannotOpen;
        ::close(fd);
        return Read::Failed;
    }
    if (before.st_size == 0 || before.st_size > FirmwareImage::MaxBytes) {
        check = before.st_size == 0 ? FirmwareImage::Check::Empty : FirmwareImage::Check::TooLarge;
        ::close(fd);
        return Read::Failed;
    }
    data.resize(qsizetype(before.st_size));
    qint64 got = 0;
    while (got < before.st_size) {
        const ssize_t n = ::read(fd, data.data() + got, size_t(before.st_size - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = systemError(errno);
            check = FirmwareImage::Check::CannotOpen;
            ::close(fd);
            return Read::Failed;
        }
        if (n == 0)
            break; // shortened while read
        got += n;
    }
    char extra = 0;
    const bool longer = ::read(fd, &extra, 1) > 0;
    struct stat after {};
    struct stat named {};
    const bool statted = ::fstat(fd, &after) == 0 && ::stat(path.constData(), &named) == 0;
    ::close(fd);
    if (got != before.st_size || longer || !statted || !sameFileState(before, after) ||
        !sameFileState(before, named))
        return Read::Changed;
    state = before;
    return Read::Done;
}

// Qt reads a name that is not valid UTF-8 with U+FFFD in place of its odd bytes, and the
// bytes do not come back from it: such a name leads to no file, though the file is there.
bool lostInDecoding(const QString& path, const QByteArray& name) {
    struct stat entry {};
    return path.contains(QChar::ReplacementCharacter) && ::lstat(name.constData(), &entry) != 0;
}
} // namespace

FirmwareImage::Check FirmwareImage::load(const QString& path) {
    clear();
    filePath = path;
    if (path.isEmpty()) {
        error = QStringLiteral("it does not exist.");
        return Check::CannotOpen;
    }
    const QByteArray name = QFile::encodeName(path);
    if (lostInDecoding(path, name)) {
        QString shown = QFileInfo(path).fileName();
        shown.replace(QChar::ReplacementCharacter, QLatin1Char('?'));
        error = QStringLiteral("the name %1 is not valid UTF-8, so the file cannot be reached by it; "
                               "rename the file.")
                    .arg(shown);
        return Check::CannotOpen;
    }
    QByteArray data;
    for (int attempt = 1; attempt <= ReadAttempts; ++attempt) {
        Check check = Check::Ok;
        const Read read = readOnce(name, data, stateRead, check, error);
        if (read == Read::Failed)
            return check;
        if (read == Read::Done) {
            fileLength = data.size();
            digest = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
            const qint64 sectors = sectorsFor(fileLength);
            padded = data;
            padded.append(qsizetype(sectors * SectorSize - fileLength), char(0xFF));
            return Check::Ok;
        }
        if (attempt < ReadAttempts)
            QThread::msleep(RetryPauseMs);
    }
    return Check::Unstable;
}

bool FirmwareImage::lookAt(const QByteArray& name, struct stat& state) {
    return ::stat(name.constData(), &state) == 0;
}

std::map<QByteArray, struct stat> FirmwareImage::lookAtAll(const QString& folder, const QString& pattern) {
    std::map<QByteArray, struct stat> seen;
    const QByteArray dirName = QFile::encodeName(folder);
    DIR* dir = dirName.isEmpty() ? nullptr : ::opendir(dirName.constData());
    if (dir == nullptr)
        return seen;
    const QByteArray glob = QFile::encodeName(pattern);
    while (const dirent* entry = ::readdir(dir)) {
        if (::fnmatch(glob.constData(), entry->d_name, FNM_CASEFOLD) != 0)
            continue;
        const QByteArray name = dirName + '/' + QByteArray(entry->d_name);
        struct stat state {};
        if (lookAt(name, state) && S_ISREG(state.st_mode))
            seen.emplace(name, state);
    }
    ::closedir(dir);
    return seen;
}

bool FirmwareImage::stillAsRead() const {
    struct stat now {};
    return isLoaded() && lookAt(QFile::encodeName(filePath), now) && sameFileState(stateRead, now);
}

QString FirmwareImage::refusalText(Check check, const QString& path, const QString& why) {
    const QString shown = QDir::toNativeSeparators(path);
    switch (check) {
    case Check::Empty:
        return QStringLiteral("The firmware image %1 is empty and cannot be sent.").arg(shown);
    case Check::TooLarge:
        return QStringLiteral("The firmware image %1 is larger than %2 sectors of 64 KiB and cannot be sent.")
            .arg(shown)
            .arg(MaxSectors);
    case Check::Unstable:
        return QStringLiteral("The firmware image %1 kept changing while it was read and cannot be sent. "
                              "Start again when the file is no longer being written.")
            .arg(shown);
    case Check::CannotOpen:
    case Check::Ok:
        break;
    }
    return QStringLiteral("The firmware image %1 cannot be opened: %2").arg(shown, why);
}

void FirmwareImage::clear() {
    filePath.clear();
    padded.clear();
    fileLength = 0;
    digest.clear();
    error.clear();
    stateRead = {};
}
