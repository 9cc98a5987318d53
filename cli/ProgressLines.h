#pragma once

#include "ConsoleOutput.h"

#include <QElapsedTimer>

// A progress line per port on a terminal, redrawn in place; a warning goes above them.
class ProgressLines : public ConsoleOutput {
public:
    ProgressLines(const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out);

    void begin() override;
    void event(int port, PortEventKind kind, int value) override;
    void finished(int port, const SessionReport& report) override;
    void refresh() override { drawLines(); }

private:
    struct PortLine {
        PortTarget target;
        QElapsedTimer since;
        int sectors = 0;
        int blocks = 0;
        int restarts = 0;
        bool finished = false;
        SessionReport report;
    };

    QString progressLine(const PortLine& line) const;
    void printAbove(const QString& text);
    void drawLines();

    const FirmwareImage& image;
    OutputStream& out;
    QList<PortLine> lines;
    int labelWidth = 4;
    int drawn = 0; // progress lines on the screen below the cursor's line
};
