// The station's event lines: found, result with its time, removed, switch off, line lost and back.
#include "StationLog.h"

#include "ConsoleText.h"
#include "UpdateRecord.h"

#include <QDateTime>

StationLog::StationLog(const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out)
    : image(image)
    , out(out)
    , ports(ports)
    // The state no slot starts in, so that the first one is told.
    , states(ports.size(), SlotState::Ended) {}

void StationLog::print(const QString& who, const QString& text) {
    const QString time = QDateTime::currentDateTime()
                             .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                             .toString(Qt::ISODate);
    out.write(QStringLiteral("%1 %2 %3\n").arg(time, who, text));
    out.flush();
}

void StationLog::begin() {
    print(QStringLiteral("station"), ConsoleText::imageLine(image));
}

void StationLog::notice(const QString& text) {
    if (!text.isEmpty())
        print(QStringLiteral("station"), ConsoleText::oneLine(text));
}

void StationLog::slotChanged(int slot, const SlotStatus& status) {
    const SlotState before = states[slot];
    states[slot] = status.state;
    if (before == status.state)
        return;
    const QString& label = ports[slot].label;
    switch (status.state) {
    case SlotState::Empty:
        if (before == SlotState::Passed || before == SlotState::Failed || before == SlotState::Remove)
            print(label, QStringLiteral("module removed"));
        else if (before != SlotState::SwitchOff)
            print(label, QStringLiteral("empty, put on next"));
        break;
    case SlotState::SwitchOff:
        print(label, QStringLiteral("switch off"));
        break;
    case SlotState::Updating:
        print(label, QStringLiteral("module %1 found").arg(status.module));
        break;
    case SlotState::LineLost:
        print(label, QStringLiteral("line lost (%1)").arg(status.note));
        break;
    case SlotState::Remove:
        print(label, QStringLiteral("line back: remove the module"));
        break;
    case SlotState::Ended:
        print(label, QStringLiteral("ended"));
        break;
    case SlotState::Passed:
    case SlotState::Failed:
        break; // told by finished(), with the time it took
    }
}

void StationLog::finished(int port, const SessionReport& report) {
    QString text =
        QStringLiteral("%1 %2").arg(resultName(report.outcome), ConsoleText::clock(report.seconds));
    if (!report.message.isEmpty())
        text += QStringLiteral(": ") + ConsoleText::oneLine(report.message);
    print(ports[port].label, text);
}
