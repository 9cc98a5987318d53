#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

// Ctrl+C (SIGINT), SIGTERM and SIGHUP as an event of the main thread. The signals are blocked in every
// thread and read from a signalfd, so no handler runs in the middle of a session and the
// sessions are stopped by ordinary code. A second signal ends the process at once.
class StopSignals : public QObject {
    Q_OBJECT
public:
    // Make it before any thread is started: threads inherit the blocked signals.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested();

private:
    void readSignal();

    int fd = -1;
    int received = 0;
    std::unique_ptr<QSocketNotifier> notifier;
};
