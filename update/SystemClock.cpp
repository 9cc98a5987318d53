// The monotonic clock of the running program.
#include "SystemClock.h"

#include <time.h>

quint32 SystemClock::ticks() const {
    // Milliseconds since boot, truncated to 32 bits: it wraps like the tick count the
    // elapsed-time arithmetic was written for.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const quint64 ms = quint64(now.tv_sec) * 1000u + quint64(now.tv_nsec) / 1000000u;
    return quint32(ms);
}
