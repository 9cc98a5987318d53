// The simulator's serial line: a pseudo-terminal or a device, raw, optionally at the wire rate.
#include "line.h"

#include "event_log.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr double kWriteStallLimit = 2.0;

// A signal handler may only flag the stop and wake the sleeper; the byte in the pipe makes a poll()
// that has not started yet return at once too, so no stop request is ever slept through.
volatile sig_atomic_t g_stop = 0;
int g_stopPipe[2] = {-1, -1};

void onStopSignal(int) {
    g_stop = 1;
    const int saved = errno;
    const char byte = 's';
    [[maybe_unused]] ssize_t ignored = ::write(g_stopPipe[1], &byte, 1);
    errno = saved;
}

int timeoutMs(double deadline) {
    if (std::isinf(deadline))
        return -1;
    const double left = deadline - monotonicNow();
    if (left <= 0.0)
        return 0;
    return static_cast<int>(std::min(std::ceil(left * 1000.0), double(INT_MAX)));
}

bool makeRaw(int fd, bool setSpeed, std::string& error) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        error = std::string("cannot read line settings: ") + std::strerror(errno);
        return false;
    }
    cfmakeraw(&tio); // 8 data bits, no parity, no echo, no translation
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | CRTSCTS);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (setSpeed) {
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = std::string("cannot set line settings: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

double monotonicNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool installStopHandlers(std::string& error) {
    if (pipe2(g_stopPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = std::string("cannot create pipe: ") + std::strerror(errno);
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool stopRequested() {
    return g_stop != 0;
}

Line::~Line() {
    closeFd(fd_);
    closeFd(heldSlave_);
}

bool Line::openPseudoTerminal(std::string& error) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    fd_ = master;
    heldSlave_ = slave;
    const char* name = ptsname(master);
    if (!name) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    path_ = name;
    // Both ends raw: otherwise the line discipline echoes the host's bytes back and rewrites
    // carriage returns, and binary sector data would not arrive unchanged.
    if (!makeRaw(slave, true, error) || !makeRaw(master, false, error))
        return false;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    return true;
}

bool Line::openDevice(const std::string& path, std::string& error) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    if (!makeRaw(fd_, true, error))
        return false;
    tcflush(fd_, TCIOFLUSH); // whatever was left on the line belongs to nobody now
    return true;
}

Line::Wake Line::wait(double deadline, bool wantInput) {
    pollfd fds[2] = {{g_stopPipe[0], POLLIN, 0}, {fd_, short(wantInput ? POLLIN : 0), 0}};
    const int ready = ::poll(fds, 2, timeoutMs(deadline));
    if (g_stop)
        return Wake::Stop;
    if (ready <= 0)
        return Wake::Timeout; // time-out, or a signal that was not a stop
    if (fds[1].revents & POLLIN)
        return Wake::Input;
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
        return Wake::Closed;
    return Wake::Timeout;
}

ssize_t Line::read(uint8_t* buffer, size_t size) {
    const ssize_t n = ::read(fd_, buffer, size);
    if (n > 0)
        return n;
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    if (n == 0)
        errno = EIO;
    return -1;
}

bool Line::write(const std::string& bytes) {
    size_t done = 0;
    double stalledSince = monotonicNow();
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
            stalledSince = monotonicNow();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            logError("write failed: %s", std::strerror(errno));
            return false;
        }
        if (g_stop)
            return false;
        const double giveUpAt = stalledSince + kWriteStallLimit;
        if (monotonicNow() >= giveUpAt) {
            logError("host takes no data, %zu bytes dropped", bytes.size() - done);
            return false;
        }
        pollfd fds[2] = {{g_stopPipe[0], POLLIN, 0}, {fd_, POLLOUT, 0}};
        ::poll(fds, 2, timeoutMs(giveUpAt));
    }
    return true;
}

bool Line::pause(double seconds) {
    const double until = monotonicNow() + seconds;
    while (!g_stop) {
        const int ms = timeoutMs(until);
        if (ms == 0)
            return true;
        pollfd stop = {g_stopPipe[0], POLLIN, 0};
        ::poll(&stop, 1, ms);
    }
    return false;
}

void Line::drain(double timeout) {
    if (fd_ < 0)
        return;
    if (heldSlave_ < 0) {
        tcdrain(fd_);
        return;
    }
    // On a pseudo-terminal what the host has not read yet waits in the slave's input queue, which
    // our own slave descriptor can count.
    const double until = monotonicNow() + timeout;
    pause(0.02); // let the bytes pass from the master into that queue
    int waiting = 0;
    while (ioctl(heldSlave_, FIONREAD, &waiting) == 0 && waiting > 0 && monotonicNow() < until) {
        if (!pause(0.01))
            return;
    }
}

void Line::hangUp() {
    closeFd(fd_);
}
