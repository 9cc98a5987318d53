#pragma once

#include "EventPass.h"

#include <QTimer>

// One pass of Qt's event loop that sleeps instead of spinning: processEvents with
// WaitForMoreEvents blocks until something happens, and a single-shot timer set to the
// caller's deadline makes sure that "something" comes in time for the wait to end.
class QtEventPass : public EventPass {
public:
    QtEventPass();
    void runOnce(int maxSleepMs) override;
    void runPending() override;

private:
    QTimer wakeUp;
};

// The window's 100 ms timer.
class QtIntervalTimer : public IntervalTimer {
public:
    explicit QtIntervalTimer(int intervalMs);
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return timer.isActive(); }

private:
    QTimer timer;
};
