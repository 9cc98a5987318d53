// The simulated clock, event loop and 100 ms timer of the tests.
#include "SimWorld.h"

#include <QtTest>

bool SimWorld::runDue() {
    bool ran = false;
    while (!events.empty() && events.begin()->first <= nowMs) {
        auto action = std::move(events.begin()->second);
        events.erase(events.begin());
        action();
        ran = true;
    }
    return ran;
}

void SimWorld::runOnce(int maxSleepMs) {
    ++passCount;
    if (runDue())
        return;
    if (onSleep)
        onSleep(maxSleepMs);
    qint64 next = nowMs + qMax(1, maxSleepMs);
    if (!events.empty() && events.begin()->first < next)
        next = events.begin()->first;
    nowMs = next;
    if (nowMs > limitMs)
        qFatal("simulated time ran past %lld ms: the code under test does not end", limitMs);
    runDue();
}

void SimTimer::setEnabled(bool on) {
    if (on == enabled)
        return;
    enabled = on;
    ++generation;
    if (enabled)
        schedule();
}

void SimTimer::schedule() {
    const quint64 mine = generation;
    world.after(interval, [this, mine] {
        if (!enabled || mine != generation)
            return;
        schedule();
        tick();
    });
}
