// Whole-or-nothing replacement of a file through a flushed temporary file and a rename.
#include "SafeFileWrite.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString systemErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

namespace {
QString failed() {
    return systemErrorText(errno);
}

// What stands in the way of replacing the target, or empty text. `kept` tells whether there
// is an old file whose mode and owner the new one takes over.
QString targetRefusal(const QByteArray& path, struct stat& old, bool& kept) {
    kept = false;
    if (::lstat(path.constData(), &old) != 0)
        return errno == ENOENT ? QString() : failed();
    if (S_ISLNK(old.st_mode))
        return QStringLiteral("it is a symbolic link");
    if (!S_ISREG(old.st_mode))
        return QStringLiteral("it is not a regular file");
    // Root may write anything; an operator who took the write permission away meant it.
    if ((old.st_mode & S_IWUSR) == 0)
        return QStringLiteral("it is read-only");
    kept = true;
    return QString();
}

QString folderRefusal(const QByteArray& folder) {
    const QString shown = QFile::decodeName(folder);
    struct stat seen {};
    if (::stat(folder.constData(), &seen) != 0)
        return QStringLiteral("its folder %1 cannot be used: %2").arg(shown, failed());
    if (!S_ISDIR(seen.st_mode))
        return QStringLiteral("%1 is not a folder").arg(shown);
    if ((seen.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return QStringLiteral("its folder %1 is read-only").arg(shown);
    return QString();
}

// The folder part of a name, "." for a bare name.
QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArrayLiteral(".") : slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}
} // namespace

SafeFileWrite::SafeFileWrite(QByteArray target, Flush flush)
    : target(std::move(target))
    , flush(std::move(flush)) {}

SafeFileWrite::~SafeFileWrite() {
    discard();
}

void SafeFileWrite::discard() {
    if (temporaryFd >= 0)
        ::close(temporaryFd);
    temporaryFd = -1;
    if (!temporaryPath.isEmpty())
        ::unlink(temporaryPath.constData());
    temporaryPath.clear();
}

bool SafeFileWrite::open(QString& error) {
    discard();
    const QByteArray folder = folderOf(target);
    struct stat old {};
    bool kept = false;
    error = targetRefusal(target, old, kept);
    if (error.isEmpty())
        error = folderRefusal(folder);
    if (!error.isEmpty())
        return false;
    // Hidden, so that a copy cut short by a crash is not taken for the file itself.
    const QByteArray stem = folder + "/." + target.mid(target.lastIndexOf('/') + 1) + '.';
    for (int attempt = 0; attempt < 100 && temporaryFd < 0; ++attempt) {
        const QByteArray candidate = stem + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        temporaryFd =
            ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                   kept ? 0600 : 0666);
        if (temporaryFd >= 0)
            temporaryPath = candidate;
        else if (errno != EEXIST)
            break;
    }
    if (temporaryFd < 0) {
        error = failed();
        return false;
    }
    if (kept) {
        // Owner first: a change of owner clears set-id bits the mode must bring back. Only root
        // may give a file away; an operator's own file keeps its owner anyway.
        if (::fchown(temporaryFd, old.st_uid, old.st_gid) != 0 && errno != EPERM) {
            error = failed();
            discard();
            return false;
        }
        if (::fchmod(temporaryFd, old.st_mode & 07777) != 0) {
            error = failed();
            discard();
            return false;
        }
    }
    return true;
}

bool SafeFileWrite::write(const char* data, size_t length, QString& error) {
    if (temporaryFd < 0) {
        error = systemErrorText(EBADF);
        return false;
    }
    while (length > 0) {
        const ssize_t put = ::write(temporaryFd, data, length);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            // A full disk may first take part of a buffer and refuse only the next write.
            error = put == 0 ? systemErrorText(ENOSPC) : failed();
            discard();
            return false;
        }
        data += put;
        length -= size_t(put);
    }
    return true;
}

bool SafeFileWrite::commit(QString& error) {
    if (temporaryFd < 0) {
        error = systemErrorText(EBADF);
        return false;
    }
    // The data on disk before the name points at it: a crash after the rename must not leave
    // an empty file where the old one stood.
    if (flush(temporaryFd) != 0) {
        error = failed();
        discard();
        return false;
    }
    const int fd = temporaryFd;
    temporaryFd = -1;
    if (::close(fd) != 0) {
        error = failed();
        discard();
        return false;
    }
    if (std::rename(temporaryPath.constData(), target.constData()) != 0) {
        error = failed();
        discard();
        return false;
    }
    temporaryPath.clear();
    // The rename itself is on disk only once the folder is. The new file is in place whatever
    // this says, so a folder that cannot be flushed is not reported as a failed write.
    const int folder = ::open(folderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        flush(folder);
        ::close(folder);
    }
    return true;
}

bool writeFileWhole(const QByteArray& file, const QByteArray& bytes, QString& error) {
    SafeFileWrite out(file);
    return out.open(error) && out.write(bytes, error) && out.commit(error);
}
