#pragma once

#include "Clock.h"

#include <QElapsedTimer>

// The monotonic clock of the running program.
class SystemClock : public Clock {
public:
    SystemClock() { origin.start(); }
    double seconds() const override { return double(origin.nsecsElapsed()) / 1e9; }
    quint32 ticks() const override;

private:
    QElapsedTimer origin;
};
