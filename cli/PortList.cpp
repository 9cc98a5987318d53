// --list-ports: the COM numbers, their devices or network addresses and whether each opens now.
#include "PortList.h"

#include "AnyPortControl.h"
#include "NetworkPortAddress.h"
#include "NetworkProbe.h"
#include "PortTargets.h"
#include "QtEventPass.h"
#include "SystemClock.h"

#include <QMap>

namespace {
// How long the listing waits for a server's acknowledgements of the line settings.
constexpr int AcknowledgementWaitMs = 1000;
} // namespace

int listPorts(const QString& settingsFile, OutputStream& out) {
    const PortAssignmentResult assignment = cliPortMap(settingsFile);
    if (!assignment.writeError.isEmpty())
        std::fprintf(stderr, "kestrune-update: the new [Ports] lines could not be stored in %s: %s\n",
                     qPrintable(settingsFile), qPrintable(assignment.writeError));
    const PortMap& map = assignment.map;
    QtEventPass events;
    SystemClock clock;
    AnyPortControl serial(events, clock, [&map](int com) { return map.deviceFor(com); });

    // Every network COM is tried at once, and only once: silent hosts cost one connect limit and
    // one acknowledgement wait in all, not one each. A connection counts when it still stands
    // after the wait (a busy server closes it at once, saying why).
    QStringList addresses;
    QList<int> networkComs;
    for (int com = FirstComPort; com <= LastComPort; ++com)
        if (serial.isNetworkPort(com)) {
            networkComs << com;
            addresses << map.deviceFor(com);
        }
    QMap<int, NetworkProbeResult> probed;
    const QList<NetworkProbeResult> results =
        probeNetworkPorts(events, addresses, NetworkControl::DefaultConnectLimitMs, AcknowledgementWaitMs);
    for (int i = 0; i < results.size(); ++i)
        probed.insert(networkComs[i], results[i]);

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
        serial.setCommPort(com);
        if (probed.contains(com)) {
            const NetworkProbeResult& result = probed.value(com);
            NetworkPortAddress address; // port 0 while unreadable
            const QString shown =
                parseNetworkPort(device, &address) ? address.text() : escapeControlCharacters(device);
            // An RFC 2217 server says which line settings it took and whether it agreed to binary
            // transmission; the details name them.
            const QString description =
                address.port ? NetworkControl::addressDetails(device) + result.details : QStringLiteral("-");
            const QString opens =
                result.connected ? QStringLiteral("yes") : QStringLiteral("no: ") + result.reason;
            row(QStringLiteral("COM%1").arg(com), shown, description, opens);
            continue;
        }
        // The tool tip ends with the path, which has a column of its own here.
        QString description = map.toolTip(com);
        description.chop(device.size());
        if (description.endsWith(QStringLiteral(" — ")))
            description.chop(3);
        QString opens = QStringLiteral("yes");
        // Something that is no serial line is not opened: /dev/zero or a console would open.
        if (!map.notASerialLine(com).isEmpty())
            opens = QStringLiteral("no: not a serial line");
        else if (serial.setPortOpen(true))
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
