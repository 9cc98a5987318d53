#pragma once

#include <functional>

// One pass of the event loop, as the waiting loops of the engine run it, and the
// 100 ms timer whose ticks drive the elapsed-time display. Production code runs Qt's
// event loop; tests run a simulated clock that advances with every pass.
class EventPass {
public:
    virtual ~EventPass() = default;
    // Handles pending events; when there are none, sleeps until the next one, but no longer
    // than `maxSleepMs` (the caller's own deadline), so a wait wakes only when something
    // happened or its time is up.
    virtual void runOnce(int maxSleepMs) = 0;
    // Milliseconds from `now` to `deadline` (seconds), rounded up, at least 1: a wait that
    // sleeps this long never wakes before its deadline and never sleeps past it by a tick.
    static int msUntil(double now, double deadline);
    // Handles the events already pending and returns at once, without sleeping.
    virtual void runPending() = 0;
};

class IntervalTimer {
public:
    virtual ~IntervalTimer() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    void setTickHandler(std::function<void()> handler) { onTick = std::move(handler); }

protected:
    void tick() {
        if (onTick)
            onTick();
    }

private:
    std::function<void()> onTick;
};
