#pragma once

#include "Clock.h"
#include "EventPass.h"

#include <QtGlobal>
#include <functional>
#include <map>

// A simulated clock and event loop: every pass of the engine's waiting loops runs the
// events that are due and otherwise moves time on to the next event, or by the sleep the
// pass was given, as the real loop sleeps. Whole sessions with their time-outs run in milliseconds of real
// time.
class SimWorld : public Clock, public EventPass {
public:
    // A run that needs more simulated time than this has hung.
    qint64 limitMs = 3600 * 1000;

    double seconds() const override { return double(nowMs) / 1000.0; }
    quint32 ticks() const override { return quint32(tickBase + quint64(nowMs)); }
    void runOnce(int maxSleepMs) override;
    // Sees every sleep the code under test asks for (ms), when set.
    std::function<void(int)> onSleep;
    void runPending() override { runDue(); }

    qint64 now() const { return nowMs; }
    void setTickBase(quint64 base) { tickBase = base; }
    void at(qint64 whenMs, std::function<void()> action) { events.emplace(whenMs, std::move(action)); }
    void after(qint64 delayMs, std::function<void()> action) { at(nowMs + delayMs, std::move(action)); }
    qint64 passes() const { return passCount; }

private:
    bool runDue();
    qint64 nowMs = 0;
    quint64 tickBase = 0;
    qint64 passCount = 0;
    std::multimap<qint64, std::function<void()>> events;
};

// The 100 ms timer, ticking on the simulated clock.
class SimTimer : public IntervalTimer {
public:
    explicit SimTimer(SimWorld& world, int intervalMs = 100)
        : world(world)
        , interval(intervalMs) {}
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled; }

private:
    void schedule();
    SimWorld& world;
    int interval;
    bool enabled = false;
    quint64 generation = 0;
};
