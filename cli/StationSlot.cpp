// A station's slot: empty, updating, PASS or FAIL until the module is gone, empty again.
#include "StationSlot.h"

#include "Clock.h"
#include "LineSettings.h"
#include "SerialControl.h"
#include "StationRules.h"

StationSlot::StationSlot(UpdateEngine& engine, SerialControl& line, const Clock& clock, StationRules& rules,
                         double goneAfter, SlotListener& listener)
    : engine(engine)
    , line(line)
    , clock(clock)
    , rules(rules)
    , goneAfter(goneAfter)
    , listener(listener) {
    engine.setEvents(this);
    // Only the station's rules decide whether the module just identified is updated.
    engine.setModuleGate([this](const QString&) {
        updating = !ending() && this->rules.claim();
        return updating;
    });
}

void StationSlot::stop() {
    stopping = true;
    engine.interrupt();
}

void StationSlot::windDown() {
    windingDown = true;
    if (!updating)
        engine.interrupt();
}

bool StationSlot::ending() const {
    return stopping || windingDown || rules.isClosed();
}

void StationSlot::run() {
    bool everOpen = false;
    bool removalDue = false;
    while (!ending()) {
        if (!line.PortOpen()) {
            if (!openLine())
                continue;
            // A line that comes back may have had anything put on it meanwhile.
            removalDue = removalDue || everOpen;
            everOpen = true;
        }
        removalDue = removalDue ? !awaitRemoval() : runUpdate();
    }
    line.setPortOpen(false);
    show(SlotState::Ended);
}

bool StationSlot::openLine() {
    if (line.setPortOpen(true)) {
        current.note.clear();
        return true;
    }
    current.note = line.openFailureReason();
    show(SlotState::LineLost);
    engine.warte(ReopenSeconds);
    return false;
}

// One session: probing until a module answers, then its update. True when a module was on the
// lead at its end (updated, failed, or there when the line went), so it must be removed first.
bool StationSlot::runUpdate() {
    current.module.clear();
    show(SlotState::Empty);
    engine.StartUpdate();
    const SessionReport& report = engine.lastReport();
    const bool wasUpdate = updating;
    updating = false;
    if (wasUpdate)
        endUpdate(report);
    if (report.outcome == SessionOutcome::LineLost) {
        current.note = line.lineLossCause();
        show(SlotState::LineLost);
        return true;
    }
    return wasUpdate;
}

void StationSlot::endUpdate(const SessionReport& report) {
    const bool passed = report.outcome == SessionOutcome::Success;
    current.lastOutcome = report.outcome;
    current.lastMessage = report.message;
    current.lastSeconds = report.seconds;
    current.lastAt = QDateTime::currentDateTime();
    ++(passed ? current.passed : current.failed);
    listener.updateFinished(report);
    show(passed ? SlotState::Passed : SlotState::Failed);
}

// Probes until the module is gone: an "XX" (its switch turned off) or no answer for goneAfter
// seconds. True when it is gone; false when the line was lost or the station ends.
bool StationSlot::awaitRemoval() {
    if (current.state == SlotState::LineLost)
        show(SlotState::Remove);
    double lastAnswer = clock.seconds();
    while (!ending()) {
        const ProbeAnswer answer = engine.probeOnce();
        if (ending() || !line.PortOpen())
            break;
        const bool gone =
            answer.kind == ProbeAnswer::Kind::SwitchOff ||
            (answer.kind == ProbeAnswer::Kind::Nothing && clock.seconds() - lastAnswer >= goneAfter);
        if (gone) {
            current.module.clear();
            show(SlotState::Empty);
            return true;
        }
        if (answer.kind == ProbeAnswer::Kind::Module)
            lastAnswer = clock.seconds();
    }
    if (!line.PortOpen() && !ending()) {
        current.note = line.lineLossCause();
        show(SlotState::LineLost);
    }
    return false;
}

void StationSlot::show(SlotState state) {
    current.state = state;
    listener.slotChanged(current);
}

void StationSlot::probing() {
    if (current.state != SlotState::Empty)
        show(SlotState::Empty);
}

void StationSlot::switchOff() {
    if (current.state != SlotState::SwitchOff)
        show(SlotState::SwitchOff);
}

void StationSlot::identified(const QString& type) {
    current.module = type;
    current.blocks = 0;
    current.totalBlocks = 0;
    current.restarts = 0;
    show(SlotState::Updating);
}

void StationSlot::announced(int sectors) {
    current.blocks = 0;
    current.totalBlocks = sectors * ModuleLine::BlocksPerSector;
    listener.slotChanged(current);
}

void StationSlot::blockSent(int blocksSent, int totalBlocks) {
    current.blocks = blocksSent;
    current.totalBlocks = totalBlocks;
    listener.slotChanged(current);
}

void StationSlot::restarting(int restart) {
    current.restarts = restart;
    listener.slotChanged(current);
}
