#pragma once

#include "SessionEvents.h"
#include "UpdateEngine.h"

#include <QDateTime>
#include <QString>

class Clock;
class SerialControl;
class StationRules;

// What the operator goes by at a slot: the protocol gives no module identity, so a module is
// "the one on the lead" from its identification until it is gone.
enum class SlotState {
    LineLost,  // the line cannot be opened (or was lost); tried again every 2 s
    Empty,     // put the next module on: probing
    SwitchOff, // a module echoes the probe: its setup switch is off
    Updating,  // a module answered with its type and is being updated
    Passed,    // its update succeeded: remove the module
    Failed,    // its update did not: remove the module
    Remove,    // the line came back; what is on the lead is unknown: remove the module
    Ended,     // the slot takes no more modules
};

struct SlotStatus {
    SlotState state = SlotState::Empty;
    QString module; // type of the module on the lead, while it is there
    int blocks = 0; // of the attempt under way
    int totalBlocks = 0;
    int restarts = 0;
    QString note; // why the line is lost
    // The last update of this slot.
    SessionOutcome lastOutcome = SessionOutcome::None;
    QString lastMessage;
    double lastSeconds = 0;
    QDateTime lastAt;
    int passed = 0;
    int failed = 0;
};

// Told, on the slot's thread, what happens at a slot.
class SlotListener {
public:
    virtual ~SlotListener() = default;
    virtual void slotChanged(const SlotStatus& status) = 0;
    // An update has ended (a module was identified and its session is over): record it.
    virtual void updateFinished(const SessionReport& report) = 0;
};

// One port of a station, cycling until the station ends: empty (the session's own probing
// loop), updating, PASS or FAIL until the module is gone ("XX", or no answer for `goneAfter`
// seconds), empty again. A line that is lost is opened again every 2 s; once back, the slot
// waits for removal, as what is on the lead is unknown. A module that still answers is never
// updated twice. Runs on one thread with its engine; stop() and windDown() are called there.
class StationSlot : public SessionEvents {
public:
    static constexpr double ReopenSeconds = 2.0;

    StationSlot(UpdateEngine& engine, SerialControl& line, const Clock& clock, StationRules& rules,
                double goneAfter, SlotListener& listener);

    // Cycles until the station ends, then closes the line.
    void run();
    // Ends at the next wait; an update under way ends as interrupted.
    void stop();
    // No new update here: ends once no update is under way.
    void windDown();

    const SlotStatus& status() const { return current; }

    void probing() override;
    void switchOff() override;
    void identified(const QString& type) override;
    void announced(int sectors) override;
    void blockSent(int blocksSent, int totalBlocks) override;
    void restarting(int restart) override;

private:
    bool ending() const;
    bool openLine();
    bool runUpdate();
    bool awaitRemoval();
    void endUpdate(const SessionReport& report);
    void show(SlotState state);

    UpdateEngine& engine;
    SerialControl& line;
    const Clock& clock;
    StationRules& rules;
    const double goneAfter;
    SlotListener& listener;
    SlotStatus current;
    bool stopping = false;
    bool windingDown = false;
    bool updating = false;
};
