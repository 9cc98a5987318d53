// The add-file command: copies an operator's image into the program folder.
#include "AddFile.h"

#include "EventPass.h"
#include "FileState.h"
#include "FileTests.h"
#include "FirmwareImage.h"
#include "Prompts.h"
#include "SafeFileWrite.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
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

QString cannotWrite(const QString& destination, const QString& why) {
    return QStringLiteral("%1 cannot be written: %2").arg(shown(destination), why);
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

// Copies exactly as many bytes as the source held when it was opened. More arriving means
// a writer is still appending to it, fewer that it was cut: either way the copy would not be
// the image the operator chose, and a growing source must never fill the disk.
bool copyBytes(int in, qint64 expected, SafeFileWrite& out, const QString& source, const QString& destination,
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
        QString why;
        if (!out.write(buffer.data(), size_t(got), why)) {
            error = cannotWrite(destination, why);
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
    // Through a hidden temporary file beside the destination, never opened through a link, so a
    // name planted in a shared folder cannot lead the copy elsewhere and a copy cut short is
    // neither offered as an image nor put in place of a good one.
    SafeFileWrite copy(QFile::encodeName(destination));
    QString why;
    if (!copy.open(why)) {
        error = cannotWrite(destination, why);
        return false;
    }
    if (!copyBytes(in.get(), seen.st_size, copy, source, destination, events, error))
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
    if (::futimens(copy.fd(), times) != 0) {
        error = cannotWrite(destination, qt_error_string(errno));
        return false;
    }
    if (!copy.commit(why)) {
        error = cannotWrite(destination, why);
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
