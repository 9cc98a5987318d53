#pragma once

#include <functional>

// One pass of the event loop, as the waiting loops of the engine run it, and the
// 100 ms timer whose ticks drive the elapsed-time display. Production code runs Qt's
// event loop; tests run a simulated clock that advances with every pass.
class EventPass {
public:
    virtual ~EventPass() = default;
    // Handles pending events; when there are none, sleeps until the next one or about 10 ms.
    virtual void runOnce() = 0;
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
