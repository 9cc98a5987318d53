#pragma once

#include <QString>

struct SessionReport;

// What happens in a session, told by the engine as it happens, for front ends that follow a
// session by its events rather than by what a window shows. Every method does nothing unless
// overridden; the engine calls them on its own thread, in the order the session goes.
class SessionEvents {
public:
    virtual ~SessionEvents() = default;

    // A pass of the probing loop begins (the module did not answer "XX" to the last probe).
    virtual void probing() {}
    // The module echoed the probe: its setup switch is off. Told at every such probe.
    virtual void switchOff() {}
    // The module answered with an accepted type code; the session goes on to the transfer.
    virtual void identified(const QString& type) { Q_UNUSED(type); }
    // The announcement of an attempt goes out with this sector count.
    virtual void announced(int sectors) { Q_UNUSED(sectors); }
    // A block was handed to the line: `blocksSent` of `totalBlocks` in this attempt.
    virtual void blockSent(int blocksSent, int totalBlocks) {
        Q_UNUSED(blocksSent);
        Q_UNUSED(totalBlocks);
    }
    // The last block of `sector` is out; the module writes it into its flash.
    virtual void writingSector(int sector) { Q_UNUSED(sector); }
    // A reply was missing: restart `restart` (1 to 3) begins after its pause.
    virtual void restarting(int restart) { Q_UNUSED(restart); }
    // The end mark came after the last sector.
    virtual void endMark() {}
    // The module's settle pause after the end mark is over: it may be taken off the line.
    virtual void settled() {}
    // The session has ended; the report is final.
    virtual void finished(const SessionReport& report) { Q_UNUSED(report); }
};
