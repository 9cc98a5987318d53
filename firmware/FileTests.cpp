// File tests: whether a file exists, and whether another program still holds it.
#include "FileTests.h"

#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    // Without waiting and only for a regular file: a FIFO put in the image's place must not
    // hold the window.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat seen {};
    if (::fstat(fd, &seen) != 0 || !S_ISREG(seen.st_mode)) {
        ::close(fd);
        return false;
    }
    const bool ready = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd); // also releases the lock
    return ready;
}
