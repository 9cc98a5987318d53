// The ports of the command line: COM numbers mapped to devices as the window maps them.
#include "PortTargets.h"

#include "LineSettings.h"
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
        if (port.contains('/')) {
            target.device = port;
        } else {
            target.com = port.mid(3).toInt();
            target.device = map.deviceFor(target.com);
        }
        const QString real = QFileInfo(target.device).canonicalFilePath();
        const QString key = real.isEmpty() ? target.device : real;
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

std::unique_ptr<SerialPortControl> makePortControl(EventPass& events, const PortTarget& port) {
    const QString device = port.device;
    auto control = std::make_unique<SerialPortControl>(events, [device](int) { return device; });
    ModuleLine::apply(*control);
    control->setCommPort(port.com);
    control->setPortLabel(port.label);
    return control;
}
