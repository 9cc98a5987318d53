// --list-ports: the COM numbers, their devices and whether each opens now.
#include "PortList.h"

#include "PortTargets.h"
#include "QtEventPass.h"
#include "SerialPortControl.h"

int listPorts(const QString& settingsFile, OutputStream& out) {
    const PortAssignmentResult assignment = cliPortMap(settingsFile);
    if (!assignment.writeError.isEmpty())
        std::fprintf(stderr, "kestrune-update: the new [Ports] lines could not be stored in %s: %s\n",
                     qPrintable(settingsFile), qPrintable(assignment.writeError));
    const PortMap& map = assignment.map;
    QtEventPass events;
    SerialPortControl serial(events, [&map](int com) { return map.deviceFor(com); });

    const auto row = [&out](const QString& port, const QString& device, const QString& description,
                            const QString& opens) {
        // Joined, not put through arg(): a device path may hold a '%'.
        out.write(port.leftJustified(5) + QStringLiteral("  ") + device.leftJustified(40) +
                  QStringLiteral("  ") + description.leftJustified(30) + QStringLiteral("  ") + opens +
                  QLatin1Char('\n'));
    };
    row(QStringLiteral("Port"), QStringLiteral("Device"), QStringLiteral("Description"),
        QStringLiteral("Opens now"));
    for (int com = FirstComPort; com <= LastComPort; ++com) {
        const QString device = map.deviceFor(com);
        // The tool tip ends with the path, which has a column of its own here.
        QString description = map.toolTip(com);
        description.chop(device.size());
        if (description.endsWith(QStringLiteral(" — ")))
            description.chop(3);
        serial.setCommPort(com);
        QString opens = QStringLiteral("yes");
        if (serial.setPortOpen(true))
            serial.setPortOpen(false);
        else
            opens = QStringLiteral("no: ") + serial.openFailureText();
        row(QStringLiteral("COM%1").arg(com), device,
            description.isEmpty() ? QStringLiteral("-") : description, opens);
    }
    for (const PresentDevice& device : assignment.unassigned)
        out.write(QStringLiteral("no COM number left for ") + device.stableName +
                  QStringLiteral("; name it as a device path\n"));
    return 0;
}
