#include "Clock.h"
#include "EventPass.h"
#include "SerialControl.h"
#include "StatusDisplay.h"
#include "UpdateEngine.h"

void UpdateEngine::MSComm1_OnComm() {
    // Only received data is collected; overrun and overflow events are ignored, and a
    // message lost that way shows up as a missing answer, which the waits turn into a time-out.
    if (io.MSComm1.CommEvent() == SerialControl::comEvReceive)
        session.RxBuffer.append(io.MSComm1.Input());
}

// A single byte stays in the control below the receive threshold of two; left there, it
// would run every later two-byte answer one byte out of step, and no answer would ever
// match again. Whatever is waiting before a probe or an announcement is stale.
void UpdateEngine::discardUnreadInput() {
    io.MSComm1.Input();
}

void UpdateEngine::warte(double Pausenlaenge) {
    const double start = io.clock.seconds();
    while (io.clock.seconds() < start + Pausenlaenge)
        io.events.runOnce();
}

void UpdateEngine::Timer1_Timer() {
    session.advanceElapsed(io.clock.ticks());
    io.display.setElapsedText(session.elapsedText());
    const int step = io.display.activityStep();
    io.display.setActivityStep(step >= 100 ? 0 : step + 10);
}
