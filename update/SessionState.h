#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The main window's update state, one instance for the window's life.
struct SessionState {
    QByteArray RxBuffer;   // received since last cleared, one character per byte
    qint16 ErrorCount = 0; // reply time-outs in the current update
    double WaitStart = 0;  // seconds-clock value at which the current reply wait began
    quint8 ElapsedHours = 0;
    quint8 ElapsedMinutes = 0;
    qint16 ElapsedSeconds = 0;
    qint32 ElapsedMs = 0; // milliseconds not yet carried into seconds
    quint32 LastTick = 0; // tick count at the last clock update

    void resetElapsed();
    // Adds the milliseconds since LastTick and carries them into seconds, minutes, hours.
    void advanceElapsed(quint32 tickNow);
    // Hours without leading zero, two-digit minutes and seconds: 0:01:05.
    QString elapsedText() const;
};
