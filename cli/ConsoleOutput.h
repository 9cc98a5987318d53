#pragma once

#include "FirmwareImage.h"
#include "OutputStream.h"
#include "PortEvents.h"
#include "PortTargets.h"
#include "UpdateEngine.h"

#include <QList>
#include <cstdio>
#include <memory>
#include <vector>

struct SlotStatus;

// One thing the operator (or a script) sees of a run: progress lines, event lines, a summary
// table, a JSON document, ... Each output takes what it needs and ignores the rest; every
// write goes through the run's OutputStream, which keeps the first failure for the exit status.
class ConsoleOutput {
public:
    virtual ~ConsoleOutput() = default;
    virtual void begin() {}
    // A port's session event (the one-shot run).
    virtual void event(int port, PortEventKind kind, int value) {
        Q_UNUSED(port);
        Q_UNUSED(kind);
        Q_UNUSED(value);
    }
    // A station slot's state has changed.
    virtual void slotChanged(int slot, const SlotStatus& status) {
        Q_UNUSED(slot);
        Q_UNUSED(status);
    }
    // A session has ended (in a station: an update).
    virtual void finished(int port, const SessionReport& report) {
        Q_UNUSED(port);
        Q_UNUSED(report);
    }
    // What the run as a whole has to say (a station waiting for its image); empty: nothing more.
    virtual void notice(const QString& text) { Q_UNUSED(text); }
    // Time moves on: redraw what shows it.
    virtual void refresh() {}
    virtual void end() {}
};

// Several outputs fed the same, in order.
class ConsoleOutputs : public ConsoleOutput {
public:
    void add(std::unique_ptr<ConsoleOutput> output) { outputs.push_back(std::move(output)); }

    void begin() override;
    void event(int port, PortEventKind kind, int value) override;
    void slotChanged(int slot, const SlotStatus& status) override;
    void finished(int port, const SessionReport& report) override;
    void notice(const QString& text) override;
    void refresh() override;
    void end() override;

private:
    std::vector<std::unique_ptr<ConsoleOutput>> outputs;
};

// Where a run's output goes: a terminal that can redraw lines, or anything else.
bool isLiveTerminal(std::FILE* out);

// The one-shot run's output. On a terminal each port has a progress line, redrawn in place;
// otherwise (a log, a pipe) one plain line per event; then a summary table. With --json only the
// JSON document, at the end.
std::unique_ptr<ConsoleOutput> makeRunOutput(bool json, const FirmwareImage& image,
                                             const QList<PortTarget>& ports, OutputStream& out);

// A station's output. On a terminal the board; otherwise the event lines. With --json the JSON
// Lines on `out` and the event lines on `err`.
std::unique_ptr<ConsoleOutput> makeStationOutput(bool json, const FirmwareImage& image,
                                                 const QList<PortTarget>& ports, OutputStream& out,
                                                 OutputStream& err);
