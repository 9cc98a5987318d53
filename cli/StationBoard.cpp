// The station's board on a terminal: header and slot lines, redrawn in place, with colours and bell.
#include "StationBoard.h"

#include "ConsoleText.h"
#include "UpdateRecord.h"

namespace {
constexpr int BarWidth = 20;
// Progress alone redraws the board at most this often: 64 slots send blocks all the time.
constexpr int ProgressRedrawMs = 250;
constexpr int ShortShaLength = 12;
const QString Green = QStringLiteral("\x1b[32m");
const QString Red = QStringLiteral("\x1b[31m");
const QString Plain = QStringLiteral("\x1b[0m");
} // namespace

bool terminalWantsColours() {
    return qEnvironmentVariableIsEmpty("NO_COLOR");
}

QString slotStateText(SlotState state) {
    switch (state) {
    case SlotState::LineLost:
        return QStringLiteral("line lost");
    case SlotState::Empty:
        return QStringLiteral("empty - put on next");
    case SlotState::SwitchOff:
        return QStringLiteral("switch off");
    case SlotState::Updating:
        return QStringLiteral("updating");
    case SlotState::Passed:
        return QStringLiteral("PASS - remove module");
    case SlotState::Failed:
        return QStringLiteral("FAIL - remove module");
    case SlotState::Remove:
        return QStringLiteral("remove module");
    case SlotState::Ended:
        return QStringLiteral("ended");
    }
    return QString();
}

StationBoard::StationBoard(const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out,
                           bool colours)
    : image(image)
    , out(out)
    , colours(colours)
    , ports(ports)
    , statuses(ports.size()) {
    for (const PortTarget& port : ports)
        labelWidth = qMax(labelWidth, int(port.label.size()));
}

void StationBoard::begin() {
    running.start();
    draw();
}

void StationBoard::slotChanged(int slot, const SlotStatus& status) {
    const bool progressOnly = status.state == statuses[slot].state;
    statuses[slot] = status;
    if (!progressOnly || !sinceDrawn.isValid() || sinceDrawn.elapsed() >= ProgressRedrawMs)
        draw();
}

void StationBoard::finished(int, const SessionReport&) {
    out.write(QByteArray("\a"));
    draw();
}

void StationBoard::notice(const QString& text) {
    noticeText = ConsoleText::oneLine(text);
    draw();
}

QStringList StationBoard::headerLines() const {
    int passed = 0;
    int failed = 0;
    for (const SlotStatus& status : statuses) {
        passed += status.passed;
        failed += status.failed;
    }
    const double hours = running.isValid() ? running.elapsed() / 3600000.0 : 0;
    const QString rate =
        hours > 0 ? QString::number((passed + failed) / hours, 'f', 1) : QStringLiteral("0.0");
    QStringList lines{
        QStringLiteral("Station  %1  %2 sectors  SHA-256 %3  run %4")
            .arg(image.path())
            .arg(image.sectorCount())
            .arg(QString::fromLatin1(image.sha256().left(ShortShaLength)))
            .arg(ConsoleText::clock(running.isValid() ? running.elapsed() / 1000.0 : 0)),
        QStringLiteral("passed %1  failed %2  modules per hour %3").arg(passed).arg(failed).arg(rate),
    };
    if (!noticeText.isEmpty())
        lines << noticeText;
    return lines;
}

QString StationBoard::slotLine(int slot) const {
    const SlotStatus& status = statuses[slot];
    QString bar(BarWidth + 2, QLatin1Char(' '));
    if (status.state == SlotState::Updating) {
        const int filled = status.totalBlocks > 0 ? status.blocks * BarWidth / status.totalBlocks : 0;
        bar = QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
              QString(BarWidth - filled, QLatin1Char('-')) + QLatin1Char(']');
    }
    QString state = slotStateText(status.state);
    if (status.state == SlotState::LineLost && !status.note.isEmpty())
        state += QStringLiteral(" (%1)").arg(status.note);
    QString last;
    if (status.lastOutcome != SessionOutcome::None)
        last = QStringLiteral("last %1 %2")
                   .arg(resultName(status.lastOutcome), status.lastAt.toString(QStringLiteral("HH:mm:ss")));
    return QStringLiteral("%1  %2  %3  %4  %5  passed %6 failed %7")
        .arg(ports[slot].label, -labelWidth)
        .arg(state, -20)
        .arg(bar)
        .arg(status.module, -2)
        .arg(last, -23)
        .arg(status.passed)
        .arg(status.failed);
}

QString StationBoard::coloured(const QString& line, SlotState state) const {
    if (!colours || (state != SlotState::Passed && state != SlotState::Failed))
        return line;
    return (state == SlotState::Passed ? Green : Red) + line + Plain;
}

void StationBoard::draw() {
    sinceDrawn.start();
    if (drawn > 0)
        out.write(QStringLiteral("\x1b[%1A").arg(drawn));
    QStringList lines = headerLines();
    for (int slot = 0; slot < statuses.size(); ++slot)
        lines << coloured(slotLine(slot), statuses[slot].state);
    QString text;
    for (int i = 0; i < lines.size(); ++i)
        text += QStringLiteral("\r\x1b[2K") + lines[i] + QLatin1Char('\n');
    // A notice that went away leaves its line: it is cleared, and the board keeps its height.
    for (int i = int(lines.size()); i < drawn; ++i)
        text += QStringLiteral("\r\x1b[2K\n");
    out.write(text);
    drawn = qMax(drawn, int(lines.size()));
    out.flush();
}
