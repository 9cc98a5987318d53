#pragma once

#include "EventPass.h"

// The engine's 100 ms display tick, not run: a console shows neither the window's elapsed time nor
// its activity indicator, and a station's slots probe for hours. 64 slots would otherwise wake
// 640 times a second for nothing (the tick runs from the first probing pass on). The engine's
// report takes its seconds from the clock, not from this tick.
class SilentTimer : public IntervalTimer {
public:
    void setEnabled(bool enabled) override { on = enabled; }
    bool isEnabled() const override { return on; }

private:
    bool on = false;
};
