// Ctrl+C, SIGTERM and SIGHUP read from a signalfd and turned into one stop request for every session.
#include "StopSignals.h"

#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // A dropped SSH connection or a closed terminal: the sessions end and are recorded as on Ctrl+C.
    sigaddset(&set, SIGHUP);
    return set;
}
} // namespace

StopSignals::StopSignals(QObject* parent)
    : QObject(parent) {
    const sigset_t set = stopSet();
    fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0)
        return; // the default actions stay in force: the process ends at the signal
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &StopSignals::readSignal);
}

StopSignals::~StopSignals() {
    notifier.reset();
    if (fd >= 0)
        ::close(fd);
}

void StopSignals::readSignal() {
    signalfd_siginfo info{};
    while (::read(fd, &info, sizeof info) == ssize_t(sizeof info)) {
        if (++received > 1) {
            // The operator insists: end now, with the status of the signal.
            std::signal(int(info.ssi_signo), SIG_DFL);
            const sigset_t set = stopSet();
            pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
            std::raise(int(info.ssi_signo));
        }
        emit stopRequested();
    }
}
