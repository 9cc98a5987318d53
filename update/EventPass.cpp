// The sleep time of one event pass.
#include "EventPass.h"

#include <cmath>

int EventPass::msUntil(double now, double deadline) {
    // A hair under a whole millisecond counts as that millisecond: floating-point seconds
    // must not turn an exact deadline into one more millisecond of sleep.
    const double ms = std::ceil((deadline - now) * 1000.0 - 1e-6);
    if (ms < 1)
        return 1;
    return ms > 1e9 ? 1000000000 : int(ms);
}
