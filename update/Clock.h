#pragma once

#include <QtGlobal>

// The two time sources of the engine: a seconds clock for the reply waits and `warte`,
// and a 32-bit millisecond tick count for the elapsed-time display. Both are monotonic,
// so no wait is ever confused by midnight or by a change of the wall clock.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double seconds() const = 0;
    // Milliseconds as an unsigned 32-bit count; it wraps after about 49.7 days.
    virtual quint32 ticks() const = 0;
};
