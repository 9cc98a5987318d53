// The one-shot run on a terminal: a progress line per port, redrawn in place.
#include "ProgressLines.h"

#include "ConsoleText.h"
#include "LineSettings.h"
#include "UpdateRecord.h"

namespace {
constexpr int BarWidth = 24;
}

ProgressLines::ProgressLines(const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out)
    : image(image)
    , out(out) {
    for (const PortTarget& target : ports) {
        PortLine line;
        line.target = target;
        lines << line;
        labelWidth = qMax(labelWidth, int(target.label.size()));
    }
}

void ProgressLines::begin() {
    for (PortLine& line : lines)
        line.since.start();
    out.write(ConsoleText::imageLine(image) + QLatin1Char('\n'));
    drawLines();
}

// A line that stays (a warning) goes above the progress lines, which are drawn again below it.
void ProgressLines::printAbove(const QString& text) {
    if (drawn > 0)
        out.write(QStringLiteral("\x1b[%1A").arg(drawn));
    out.write(QStringLiteral("\r\x1b[2K") + text + QLatin1Char('\n'));
    drawn = 0;
    drawLines();
}

void ProgressLines::drawLines() {
    if (drawn > 0)
        out.write(QStringLiteral("\x1b[%1A").arg(drawn));
    for (const PortLine& line : lines)
        out.write(QStringLiteral("\r\x1b[2K") + progressLine(line) + QLatin1Char('\n'));
    drawn = int(lines.size());
    out.flush();
}

QString ProgressLines::progressLine(const PortLine& line) const {
    const int total = line.sectors * ModuleLine::BlocksPerSector;
    const int percent = total > 0 ? line.blocks * 100 / total : 0;
    const int filled = total > 0 ? line.blocks * BarWidth / total : 0;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(BarWidth - filled, QLatin1Char('-'));
    const double seconds = line.finished ? line.report.seconds : line.since.elapsed() / 1000.0;
    QString state;
    if (line.finished)
        state = resultName(line.report.outcome);
    else if (line.sectors == 0)
        state = QStringLiteral("waiting for the module");
    return QStringLiteral("%1 [%2] %3%  sector %4 of %5  restarts %6  %7  %8")
        .arg(line.target.label, -labelWidth)
        .arg(bar)
        .arg(percent, 3)
        .arg(line.blocks / ModuleLine::BlocksPerSector)
        .arg(line.sectors)
        .arg(line.restarts)
        .arg(ConsoleText::clock(seconds), state)
        .trimmed();
}

void ProgressLines::event(int port, PortEventKind kind, int value) {
    PortLine& line = lines[port];
    switch (kind) {
    case PortEventKind::SwitchOff:
        printAbove(QStringLiteral("%1: the module's setup switch is OFF: set it to ON, the probe goes on")
                       .arg(line.target.label));
        return;
    case PortEventKind::Announced:
        line.sectors = value;
        line.blocks = 0;
        break;
    case PortEventKind::BlocksSent:
        line.blocks = value;
        break;
    case PortEventKind::Restart:
        line.restarts = value;
        break;
    case PortEventKind::Settled:
        return;
    }
    drawLines();
}

void ProgressLines::finished(int port, const SessionReport& report) {
    PortLine& line = lines[port];
    line.finished = true;
    line.report = report;
    drawLines();
}
