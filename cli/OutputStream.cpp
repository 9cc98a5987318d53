// Checked writes to standard output: a full disk, a closed output or a pipe closed early is said.
#include "OutputStream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void OutputStream::guardClosedDescriptors() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
        if (fd == ::fileno(file))
            failedWith(EBADF);
    }
}

void OutputStream::failedWith(int code) {
    if (error == 0)
        error = code != 0 ? code : EIO;
}

void OutputStream::write(const QByteArray& bytes) {
    if (!bytes.isEmpty() &&
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file) != size_t(bytes.size()))
        failedWith(errno);
}

void OutputStream::flush() {
    if (std::fflush(file) != 0)
        failedWith(errno);
}

QString OutputStream::errorText() const {
    if (error == EBADF)
        return QStringLiteral("standard output is closed");
    return QString::fromLocal8Bit(std::strerror(error));
}

bool OutputStream::close(const char* program) {
    flush();
    if (std::ferror(file))
        failedWith(EIO);
    // Closing reports what a file system defers to the last moment (a network share's quota).
    if (std::fclose(file) != 0)
        failedWith(errno);
    if (error == 0)
        return true;
    std::fprintf(stderr, "%s: the output could not be written: %s\n", program, qPrintable(errorText()));
    std::fflush(stderr);
    return false;
}
