#pragma once

#include "ConsoleOutput.h"
#include "StationSlot.h"

#include <QElapsedTimer>

// The station on a terminal: a header (image, sectors, short SHA-256, run time, totals, modules
// per hour) and a line per slot, redrawn in place. PASS in green and FAIL in red unless NO_COLOR
// is set; the terminal bell on each result.
class StationBoard : public ConsoleOutput {
public:
    StationBoard(const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out, bool colours);

    void begin() override;
    void slotChanged(int slot, const SlotStatus& status) override;
    void finished(int port, const SessionReport& report) override;
    void notice(const QString& text) override;
    void refresh() override { draw(); }
    void end() override { draw(); }

    // The text of a slot's line, without colours.
    QString slotLine(int slot) const;

private:
    QStringList headerLines() const;
    QString coloured(const QString& line, SlotState state) const;
    void draw();

    const FirmwareImage& image;
    OutputStream& out;
    const bool colours;
    QList<PortTarget> ports;
    QList<SlotStatus> statuses;
    QString noticeText;
    QElapsedTimer running;
    QElapsedTimer sinceDrawn;
    int labelWidth = 4;
    int drawn = 0; // lines on the screen below the cursor's line
};

// Colours on a terminal, unless NO_COLOR asks for none (https://no-color.org: set and not empty).
bool terminalWantsColours();
// How the board and the event lines name a slot's state.
QString slotStateText(SlotState state);
