// --list-ports: the COM numbers, their devices and whether each opens now.
#include "PortList.h"

#include "PortTargets.h"
#include "QtEventPass.h"
#include "SerialPortControl.h"

int listPorts(const QString& settingsFile, std::FILE* out) {
    const PortAssignmentResult assignment = cliPortMap(settingsFile);
    if (!assignment.writeError.isEmpty())
        std::fprintf(stderr, "kestrune-update: the new [Ports] lines could not be stored in %s: %s\n",
                     qPrintable(settingsFile), qPrintable(assignment.writeError));
    const PortMap& map = assignment.map;
    QtEventPass events;
    SerialPortControl serial(events, [&map](int com) { return map.deviceFor(com); });

    std::fprintf(out, "%-5s  %-40s  %-30s  %s\n", "Port", "Device", "Description", "Opens now");
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
        std::fprintf(
            out, "%-5s  %-40s  %-30s  %s\n", qPrintable(QStringLiteral("COM%1").arg(com)), qPrintable(device),
            qPrintable(description.isEmpty() ? QStringLiteral("-") : description), qPrintable(opens));
    }
    for (const PresentDevice& device : assignment.unassigned)
        std::fprintf(out, "no COM number left for %s; name it as a device path\n",
                     qPrintable(device.stableName));
    return 0;
}
