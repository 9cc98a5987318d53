#pragma once

#include "ConsoleDisplay.h"
#include "FirmwareImage.h"
#include "OutputStream.h"
#include "PortTargets.h"
#include "UpdateEngine.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <cstdio>

// What the operator sees of a run. On a terminal each port has one progress line, redrawn in
// place; otherwise (a log, a pipe) one plain line per event; at the end a summary table. In
// JSON mode nothing is printed until the end, and then only the JSON document.
class ConsoleOutput {
public:
    enum class Style { Terminal, Plain, Json };

    // Every write goes through `out`, which keeps the first failure for the exit status.
    ConsoleOutput(Style style, const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out);

    void begin();
    void event(int port, PortEventKind kind, int value);
    void finished(int port, const SessionReport& report);
    // Redraws the progress lines (elapsed time); terminal only.
    void refresh();
    // The summary table, or the JSON document.
    void end();

    static Style styleFor(bool json, std::FILE* out);

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
    void print(const QString& text);
    void printAbove(const QString& text);
    void drawLines();
    QString imageLine() const;

    const Style style;
    const FirmwareImage& image;
    OutputStream& out;
    QList<PortLine> lines;
    int labelWidth = 4;
    int drawn = 0; // progress lines on the screen below the cursor's line
};
