#pragma once

#include "ConsoleOutput.h"
#include "StationSlot.h"

// The station without a terminal: one line per event, with its ISO 8601 time
// ("2026-03-02T14:05:11+01:00 COM3 module AA found").
class StationLog : public ConsoleOutput {
public:
    StationLog(const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out);

    void begin() override;
    void slotChanged(int slot, const SlotStatus& status) override;
    void finished(int port, const SessionReport& report) override;
    void notice(const QString& text) override;

private:
    void print(const QString& who, const QString& text);

    const FirmwareImage& image;
    OutputStream& out;
    QList<PortTarget> ports;
    QList<SlotState> states;
};
