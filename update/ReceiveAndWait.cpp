// Receive handling, the reply wait, warte and the elapsed-time tick.
#include "Clock.h"
#include "EventPass.h"
#include "SerialControl.h"
#include "StatusDisplay.h"
#include "UpdateEngine.h"

#include <cmath>

namespace {
// A reply is late when more than this many whole milliseconds have passed since its wait began.
constexpr qint64 ReplyTimeOutMs = 4000;
// A module answers in two bytes and says at most a few stray bytes before its answer, so only the
// latest bytes received can matter. A network server that streams into an open port (in a
// session, or while the window merely keeps the chosen port open) must not fill the memory.
constexpr qsizetype MaxReceivedBytes = 64 * 1024;

qint64 wholeMsBetween(double from, double to) {
    return std::llround((to - from) * 1000.0);
}
} // namespace

void UpdateEngine::MSComm1_OnComm() {
    // Only received data is collected; overrun and overflow events are ignored, and a
    // message lost that way shows up as a missing answer, which the waits turn into a time-out.
    if (io.MSComm1.CommEvent() != SerialControl::comEvReceive)
        return;
    QByteArray& received = session.RxBuffer;
    received.append(io.MSComm1.Input());
    if (received.size() <= MaxReceivedBytes)
        return;
    // The bytes dropped are stood in for by one NUL, which no answer holds: a rule that looks at
    // the start of what arrived (the end mark leading it, the identification's first two bytes)
    // never takes the cut for a start. Rules that look at the end see the latest bytes as before.
    received.remove(0, received.size() - MaxReceivedBytes + 1);
    received.prepend('\0');
}

// A single byte stays in the control below the receive threshold of two; left there, it
// would run every later two-byte answer one byte out of step, and no answer would ever
// match again. Whatever is waiting before a probe or an announcement is stale.
void UpdateEngine::discardUnreadInput() {
    io.MSComm1.Input();
}

void UpdateEngine::discardReceived() {
    session.RxBuffer.clear();
}

// Sleeps in event passes until the deadline; events (received bytes, the 100 ms tick,
// operator commands) are handled as they come, and the pass wakes for nothing else.
void UpdateEngine::runUntil(double deadline) {
    io.events.runOnce(EventPass::msUntil(io.clock.seconds(), deadline));
}

void UpdateEngine::warte(double Pausenlaenge) {
    const double start = io.clock.seconds();
    const double end = start + Pausenlaenge;
    while (io.clock.seconds() < end && !stopped())
        runUntil(end);
}

// Waits for the module's reply: `test` looks at what has arrived after every pass (and may
// discard it). False after more than 4 s without a match, or when the session was stopped.
bool UpdateEngine::awaitReply(const std::function<bool(QByteArray& RxBuffer)>& test) {
    session.WaitStart = io.clock.seconds();
    const double lateAt = session.WaitStart + double(ReplyTimeOutMs + 1) / 1000.0;
    for (;;) {
        runUntil(lateAt);
        if (stopped())
            return false;
        if (test(session.RxBuffer))
            return true;
        if (wholeMsBetween(session.WaitStart, io.clock.seconds()) > ReplyTimeOutMs)
            return false;
    }
}

void UpdateEngine::Timer1_Timer() {
    session.advanceElapsed(io.clock.ticks());
    io.display.setElapsedText(session.elapsedText());
    const int step = io.display.activityStep();
    io.display.setActivityStep(step >= 100 ? 0 : step + 10);
}
