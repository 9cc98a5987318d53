// The session state's elapsed-time arithmetic.
#include "SessionState.h"

void SessionState::resetElapsed() {
    ElapsedMs = 0;
    ElapsedHours = 0;
    ElapsedMinutes = 0;
    ElapsedSeconds = 0;
}

void SessionState::advanceElapsed(quint32 tickNow) {
    // The tick count wraps at 2^32 and crosses the sign bit at 2^31; an unsigned
    // difference is right across both.
    const quint32 delta = tickNow - LastTick;
    LastTick = tickNow;
    qint64 ms = qint64(ElapsedMs) + qint64(delta);
    if (ms >= 1000) {
        qint64 seconds = qint64(ElapsedSeconds) + ms / 1000;
        ms %= 1000;
        if (seconds >= 60) {
            qint64 minutes = qint64(ElapsedMinutes) + seconds / 60;
            seconds %= 60;
            if (minutes >= 60) {
                ElapsedHours = quint8(ElapsedHours + minutes / 60);
                minutes %= 60;
            }
            ElapsedMinutes = quint8(minutes);
        }
        ElapsedSeconds = qint16(seconds);
    }
    ElapsedMs = qint32(ms);
}

QString SessionState::elapsedText() const {
    return QStringLiteral("%1:%2:%3")
        .arg(ElapsedHours)
        .arg(ElapsedMinutes, 2, 10, QLatin1Char('0'))
        .arg(ElapsedSeconds, 2, 10, QLatin1Char('0'));
}
