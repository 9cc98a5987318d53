#pragma once

#include <QtGlobal>

class Clock;

// The line clock of a port whose buffers cannot be seen (a serial line behind a network
// server): it keeps the time at which the remote 115200-baud line will have sent everything
// written so far, and says how long a writer must still hold back so that no more than a given
// number of bytes' line time is ahead of now.
class LinePacer {
public:
    static constexpr qint64 BaudRate = 115200;
    static constexpr qint64 BitsPerByte = 10; // start bit, 8 data bits, stop bit

    explicit LinePacer(const Clock& clock);

    // The line is idle from now on (a new connection).
    void reset();
    // `bytes` were handed to the line now: they follow what is already ahead, or start now
    // when the line has run dry.
    void sent(qint64 bytes);
    // Seconds until the line's free time is at most `ahead` bytes' line time away; 0 when it
    // already is.
    double secondsToWait(qint64 ahead) const;
    // Seconds of line time still ahead of now.
    double secondsAhead() const;

    static double lineSeconds(qint64 bytes) { return double(bytes * BitsPerByte) / double(BaudRate); }

private:
    const Clock& clock;
    double freeAt = 0;
};
