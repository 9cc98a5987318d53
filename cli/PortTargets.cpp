// The ports of the command line: COM numbers mapped to devices as the window maps them.
#include "PortTargets.h"

#include "AnyPortControl.h"
#include "LineSettings.h"
#include "NetworkPortAddress.h"
#include "SerialPortControl.h"
#include "SettingsFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMap>
#include <algorithm>

QString cliSettingsFile() {
    return defaultSettingsFile();
}

PortAssignmentResult cliPortMap(const QString& settingsFile) {
    return applyPortAssignment(settingsFile, SystemSerialDevices());
}

PortResolution resolvePorts(const QStringList& ports, const QString& settingsFile) {
    PortResolution resolution;
    PortMap map;
    if (std::any_of(ports.cbegin(), ports.cend(), [](const QString& port) { return !port.contains('/'); })) {
        const PortAssignmentResult assignment = cliPortMap(settingsFile);
        map = assignment.map;
        if (!assignment.writeError.isEmpty())
            resolution.warning = QStringLiteral("the new [Ports] lines could not be stored in %1: %2")
                                     .arg(settingsFile, assignment.writeError);
    }
    // Two names of one device (COM3 mapped to a path also given, a link and its target) would
    // have two sessions fight over one line.
    QMap<QString, QString> labelOfDevice;
    for (const QString& port : ports) {
        PortTarget target;
        target.label = port;
        if (looksLikeNetworkPort(port)) {
            // An address is taken as written: it is neither a file nor looked up before the open.
            target.device = port;
        } else if (port.contains('/')) {
            // A link (/dev/serial/by-id/..., a relative name) stands for the device it leads to.
            const QString real = QFileInfo(port).canonicalFilePath();
            target.device = real.isEmpty() ? port : real;
        } else {
            target.com = port.mid(3).toInt();
            target.device = map.deviceFor(target.com);
        }
        const bool network = looksLikeNetworkPort(target.device);
        // Made raw, the operator's own terminal would swallow Ctrl+C and stay raw after a kill.
        if (!network && !target.device.isEmpty() && SerialPortControl::isOwnTerminal(target.device)) {
            resolution.error =
                target.device == port
                    ? QStringLiteral("%1 is this program's own terminal; give the port of a module").arg(port)
                    : QStringLiteral("%1 (%2) is this program's own terminal; give the port of a module")
                          .arg(port, target.device);
            return resolution;
        }
        // Two spellings of one address (a capital scheme, a trailing slash, a COM mapped to it)
        // are one line too.
        NetworkPortAddress address;
        const QString real = network ? QString() : QFileInfo(target.device).canonicalFilePath();
        const QString key = network && parseNetworkPort(target.device, &address) ? address.text()
                            : real.isEmpty()                                     ? target.device
                                                                                 : real;
        if (labelOfDevice.contains(key)) {
            resolution.error = QStringLiteral("%1 and %2 are the same device (%3); each port runs one update")
                                   .arg(labelOfDevice.value(key), port, key);
            return resolution;
        }
        labelOfDevice.insert(key, port);
        resolution.targets << target;
    }
    return resolution;
}

QString portOpenFailure(const PortTarget& port, const SerialControl& serial) {
    const QString name = port.device.isEmpty() || port.device == port.label
                             ? port.label
                             : QStringLiteral("%1 (%2)").arg(port.label, port.device);
    return QStringLiteral("%1 cannot be opened: %2").arg(name, serial.openFailureReason());
}

std::unique_ptr<AnyPortControl> makePortControl(EventPass& events, const Clock& clock,
                                                const PortTarget& port) {
    const QString device = port.device;
    auto control = makeAnyPortControl(events, clock, [device](int) { return device; });
    ModuleLine::apply(*control);
    control->setCommPort(port.com);
    control->setPortLabel(port.label);
    return control;
}
