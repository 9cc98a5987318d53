#pragma once

#include "EventPass.h"

#include <QTimer>

// One pass of Qt's event loop that sleeps instead of spinning: processEvents with
// WaitForMoreEvents blocks until something happens, and a short single-shot timer makes
// sure that "something" comes within about 10 ms, so waits can check their clock.
class QtEventPass : public EventPass {
public:
    QtEventPass();
    void runOnce() override;
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
