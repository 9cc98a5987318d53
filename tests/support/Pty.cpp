// A raw pseudo-terminal pair for tests of the real serial control.
#include "Pty.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty() {
    char name[256] = {};
    if (::openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        setupError = QString::fromLocal8Bit(std::strerror(errno));
        masterFd = slaveFd = -1;
        return;
    }
    slaveName = QString::fromLocal8Bit(name);
    termios raw{};
    if (::tcgetattr(masterFd, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(masterFd, TCSANOW, &raw);
    }
    ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    ::fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
}

Pty::~Pty() {
    closeMaster();
    if (slaveFd >= 0)
        ::close(slaveFd);
}

void Pty::letGoOfSlave() {
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0 && slaveFd >= 0)
        ::dup3(null, slaveFd, O_CLOEXEC);
    if (null >= 0)
        ::close(null);
}

bool Pty::write(const QByteArray& bytes) {
    qsizetype done = 0;
    while (masterFd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            // The slave side is full: let the code under test take some of it.
            QCoreApplication::processEvents();
            pollfd p{masterFd, POLLOUT, 0};
            ::poll(&p, 1, 5);
        } else {
            return false;
        }
    }
    return masterFd >= 0;
}

QByteArray Pty::readAvailable() {
    QByteArray got;
    char chunk[4096];
    while (masterFd >= 0) {
        const ssize_t n = ::read(masterFd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        got.append(chunk, qsizetype(n));
    }
    return got;
}

QByteArray Pty::read(qsizetype count, int timeoutMs) {
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (got.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        got += readAvailable();
        if (got.size() < count && masterFd >= 0) {
            pollfd p{masterFd, POLLIN, 0};
            ::poll(&p, 1, 5);
        }
    }
    return got;
}

void Pty::closeMaster() {
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
}
