// SIGTERM and SIGHUP read from a signalfd and handed to the event loop as a Qt signal.
#include "ShutdownSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
sigset_t shutdownSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}
} // namespace

void ShutdownSignals::blockInThisThread() {
    const sigset_t set = shutdownSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

ShutdownSignals::ShutdownSignals(QObject* parent)
    : QObject(parent) {
    const sigset_t set = shutdownSet();
    descriptor = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (descriptor < 0) {
        whyNot = QStringLiteral("SIGTERM and SIGHUP cannot be watched: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &ShutdownSignals::readPending);
}

ShutdownSignals::~ShutdownSignals() {
    delete notifier;
    if (descriptor >= 0)
        ::close(descriptor);
}

void ShutdownSignals::readPending() {
    signalfd_siginfo info{};
    // Several signals may wait; each is handed on (the receiver acts on the first).
    while (::read(descriptor, &info, sizeof info) == ssize_t(sizeof info))
        emit received(int(info.ssi_signo));
}

QString ShutdownSignals::nameOf(int signalNumber) {
    switch (signalNumber) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signalNumber);
    }
}
