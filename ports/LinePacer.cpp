// The line clock that paces writes to a serial line behind a network server.
#include "LinePacer.h"

#include "Clock.h"

#include <QtGlobal>

LinePacer::LinePacer(const Clock& clock)
    : clock(clock)
    , freeAt(clock.seconds()) {}

void LinePacer::reset() {
    freeAt = clock.seconds();
}

void LinePacer::sent(qint64 bytes) {
    freeAt = qMax(freeAt, clock.seconds()) + lineSeconds(bytes);
}

double LinePacer::secondsToWait(qint64 ahead) const {
    return qMax(0.0, freeAt - lineSeconds(ahead) - clock.seconds());
}

double LinePacer::secondsAhead() const {
    return qMax(0.0, freeAt - clock.seconds());
}
