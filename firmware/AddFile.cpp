// The add-file command: copies an operator's image into the program folder.
#include "AddFile.h"

#include "EventPass.h"
#include "FileState.h"
#include "FileTests.h"
#include "FirmwareImage.h"
#include "Prompts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr qint64 ReadyWaitLimitMs = 30000;
constexpr qint64 MaxImageBytes = FirmwareImage::SectorSize * FirmwareImage::MaxSectors;

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Worded as the update words its refusals, so the operator meets one text for one fault.
QString imageText(const QString& source, const QString& what) {
    return QStringLiteral("The firmware image %1 %2").arg(shown(source), what);
}

QString cannotWrite(const QString& destination, int error) {
    return QStringLiteral("%1 cannot be written: %2").arg(shown(destination), qt_error_string(error));
}

// A descriptor that is closed when it goes out of scope.
class Descriptor {
public:
    Descriptor() = default;
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd; }
    void reset(int opened) {
        close();
        fd = opened;
    }
    bool close() {
        const bool closed = fd < 0 || ::close(fd) == 0;
        fd = -1;
        return closed;
    }

private:
    int fd = -1;
};

// Opens the chosen file without waiting for anything: a FIFO without a writer or a device would
// otherwise hold the window for good. Only a regular file the module can take passes.
bool openSource(const QString& source, Descriptor& in, struct stat& seen, QString& error) {
    // A serial device is not even opened: opening one raises its DTR line, which may reset
    // whatever hangs on it.
    const QByteArray path = QFile::encodeName(source);
    struct stat named {};
    if (::stat(path.constData(), &named) == 0 && !S_ISREG(named.st_mode)) {
        error = FirmwareImage::refusalText(FirmwareImage::Check::CannotOpen, source,
                                           QStringLiteral("it is not a file."));
        return false;
    }
    in.reset(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (in.get() < 0 || ::fstat(in.get(), &seen) != 0) {
        const int why = errno;
        error = FirmwareImage::refusalText(FirmwareImage::Check::CannotOpen, source,
                                           why == ENOENT ? QStringLiteral("it does not exist.")
                                                         : qt_error_string(why));
    } else if (!S_ISREG(seen.st_mode)) {
        error = FirmwareImage::refusalText(FirmwareImage::Check::CannotOpen, source,
                                           QStringLiteral("it is not a file."));
    } else if (seen.st_size == 0) {
        error = FirmwareImage::refusalText(FirmwareImage::Check::Empty, source);
    } else if (seen.st_size > MaxImageBytes) {
        error = FirmwareImage::refusalText(FirmwareImage::Check::TooLarge, source);
    }
    return error.isEmpty();
}

// The copy under a hidden name of its own beside the destination. It is always a new file,
// never opened through a link, so a name planted in a shared folder cannot lead the copy
// elsewhere; hidden, so a copy cut short is not offered as an image. Removed again unless kept.
class TemporaryCopy {
public:
    ~TemporaryCopy() {
        file.close();
        if (!path.isEmpty())
            ::unlink(QFile::encodeName(path).constData());
    }

    // 0 once created, else the errno of the last attempt.
    int create(const QString& folder, const QString& name) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString candidate =
                QStringLiteral("%1/.%2.%3")
                    .arg(folder, name, QString::number(QRandomGenerator::global()->generate(), 36));
            file.reset(::open(QFile::encodeName(candidate).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (file.get() >= 0) {
                path = candidate;
                return 0;
            }
            if (errno != EEXIST)
                break;
        }
        return errno;
    }
    int fd() const { return file.get(); }
    bool close() { return file.close(); }
    // Renames the closed copy over `destination`; from then on it is no longer removed.
    bool renameOver(const QString& destination) {
        if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(destination).constData()) != 0)
            return false;
        path.clear();
        return true;
    }

private:
    Descriptor file;
    QString path;
};

bool writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t put = ::write(fd, data, length);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        data += put;
        length -= size_t(put);
    }
    return true;
}

// Copies exactly as many bytes as the source held when it was opened. More arriving means
// a writer is still appending to it, fewer that it was cut: either way the copy would not be
// the image the operator chose, and a growing source must never fill the disk.
bool copyBytes(int in, qint64 expected, int out, const QString& source, const QString& destination,
               EventPass& events, QString& error) {
    std::vector<char> buffer(FirmwareImage::SectorSize);
    qint64 copied = 0;
    for (;;) {
        // At the end one byte more than expected is asked for, so that growth shows.
        const auto wanted = size_t(std::min<qint64>(qint64(buffer.size()), expected + 1 - copied));
        const ssize_t got = ::read(in, buffer.data(), wanted);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = imageText(source, QStringLiteral("cannot be read: %1").arg(qt_error_string(errno)));
            return false;
        }
        if (got == 0)
            break;
        copied += got;
        if (copied > expected)
            break;
        if (!writeAll(out, buffer.data(), size_t(got))) {
            error = cannotWrite(destination, errno);
            return false;
        }
        // Up to 16 MiB from a slow share take a while; the window stays live meanwhile.
        events.runPending();
    }
    if (copied != expected) {
        error = imageText(source,
                          QStringLiteral("changed while it was copied; add it again once it is complete."));
        return false;
    }
    return true;
}

bool copyReplacing(const QString& source, const QString& programFolder, const QString& name,
                   EventPass& events, QString& error) {
    Descriptor in;
    struct stat seen {};
    if (!openSource(source, in, seen, error))
        return false;
    const QString destination = programFolder + QLatin1Char('/') + name;
    TemporaryCopy copy;
    if (const int why = copy.create(programFolder, name)) {
        error = cannotWrite(destination, why);
        return false;
    }
    if (!copyBytes(in.get(), seen.st_size, copy.fd(), source, destination, events, error))
        return false;
    // The right number of bytes is not enough: a file rewritten in place while it was copied
    // (cp over it) would leave old bytes followed by new ones, under the old time.
    struct stat after {};
    if (::fstat(in.get(), &after) != 0 || !sameFileState(seen, after)) {
        error = imageText(source,
                          QStringLiteral("changed while it was copied; add it again once it is complete."));
        return false;
    }
    // The library takes the newest file as the image to send, so the copy keeps the source's
    // time: an older image added later must not become the newest.
    const timespec times[2] = {seen.st_atim, seen.st_mtim};
    if (::futimens(copy.fd(), times) != 0 || ::fsync(copy.fd()) != 0 || !copy.close()) {
        error = cannotWrite(destination, errno);
        return false;
    }
    // Renamed in one step, so a failed copy never leaves a half-written image where a good one stood.
    if (!copy.renameOver(destination)) {
        error = QStringLiteral("%1 cannot be replaced: %2").arg(shown(destination), qt_error_string(errno));
        return false;
    }
    return true;
}
} // namespace

bool isSameFile(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 ||
        ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

AddFileResult addFirmwareFile(const QString& programFolder, AddFilePrompts& dialog, Prompts& prompts,
                              EventPass& events) {
    const QString source = dialog.openBinFile();
    if (source.isEmpty())
        return AddFileResult::Cancelled;

    const QString name = QFileInfo(source).fileName();
    const QString destination = programFolder + QLatin1Char('/') + name;
    if (destination == source || isSameFile(source, destination))
        return AddFileResult::SameFile;

    if (FileExists(destination)) {
        const MessageAnswer answer =
            prompts.showMessage({QStringLiteral("File already exists! Overwrite?"), applicationTitle(),
                                 MessageIcon::Question, MessageButtons::OkCancel});
        if (answer != MessageAnswer::Ok)
            return AddFileResult::Declined;
    }

    QString error;
    if (!copyReplacing(source, programFolder, name, events, error)) {
        prompts.showMessage({QStringLiteral("The file could not be added.\n%1").arg(error),
                             applicationTitle(), MessageIcon::Critical});
        return AddFileResult::Failed;
    }

    // Another program may still hold the new file; wait until it is free, with the window live.
    QElapsedTimer waited;
    waited.start();
    while (!IsFileReady(destination)) {
        if (waited.elapsed() > ReadyWaitLimitMs) {
            prompts.showMessage(
                {QStringLiteral("The file %1 was copied but is still held by another program.")
                     .arg(QDir::toNativeSeparators(destination)),
                 applicationTitle(), MessageIcon::Critical});
            return AddFileResult::Failed;
        }
        events.runOnce(50);
    }
    return AddFileResult::Copied;
}
