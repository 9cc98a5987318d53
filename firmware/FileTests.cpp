// File tests: whether a file exists, and whether another program still holds it.
#include "FileTests.h"

#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

bool FileExists(const QString& Path) {
    if (Path.isEmpty())
        return false;
    const QFileInfo info(Path);
    return info.exists() && !info.isDir();
}

bool IsFileReady(const QString& path) {
    if (path.isEmpty())
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ready = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd); // also releases the lock
    return ready;
}
