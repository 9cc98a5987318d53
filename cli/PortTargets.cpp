// The ports of the command line: COM numbers mapped to devices as the window maps them.
#include "PortTargets.h"

#include "AnyPortControl.h"
#include "HostLookup.h"
#include "LineIdentity.h"
#include "LineSettings.h"
#include "NetworkPortAddress.h"
#include "QtEventPass.h"
#include "SerialPortControl.h"
#include "SettingsFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMap>
#include <algorithm>

namespace {

// How long the check for one line under two names waits for all the names it looks up together.
constexpr int LookupLimitMs = 3000;

// Two network ports that reach one line would run two updates into one module, each told
// success; the first such pair is a usage error. Only names that share a TCP port with another
// address are looked up, all at once: no other pair can be one line. What a look-up found is
// what the port's connection uses.
QString sameLineError(QList<PortTarget>& targets) {
    QList<int> network;
    QList<NetworkPortAddress> addresses;
    QMap<quint16, int> portUses;
    for (int i = 0; i < targets.size(); ++i) {
        NetworkPortAddress address;
        if (!looksLikeNetworkPort(targets[i].device) || !parseNetworkPort(targets[i].device, &address))
            continue;
        network << i;
        addresses << address;
        portUses[address.port] += 1;
    }
    QStringList hosts;
    for (const NetworkPortAddress& address : addresses)
        hosts << (portUses.value(address.port) > 1 ? address.host : QString());
    QList<QList<QHostAddress>> found(hosts.size());
    if (std::any_of(hosts.cbegin(), hosts.cend(), [](const QString& host) { return !host.isEmpty(); })) {
        QtEventPass events;
        found = lookUpHosts(events, hosts, LookupLimitMs);
    }
    QList<LineEndpoint> endpoints;
    for (int k = 0; k < addresses.size(); ++k) {
        endpoints << lineEndpoint(addresses[k], found.value(k));
        targets[network[k]].addresses = endpoints.last().addresses;
    }
    const QList<int> first = firstOnSameLine(endpoints);
    for (int k = 0; k < first.size(); ++k) {
        if (first[k] < 0)
            continue;
        const LineEndpoint& earlier = endpoints[first[k]];
        // One arg() for all: a zone's '%' in a label must not be taken for a place holder.
        return QStringLiteral("%1 and %2 are the same line (%3, TCP port %4); each port runs one update")
            .arg(targets[network[first[k]]].label, targets[network[k]].label,
                 escapeControlCharacters(sharedHostText(earlier, endpoints[k])),
                 QString::number(earlier.port));
    }
    return QString();
}

} // namespace

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
            // An address is not a file: it is never stat'ed.
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
        // Two spellings of one address are one line; that is told below, once every address is known.
        if (network && parseNetworkPort(target.device, nullptr)) {
            resolution.targets << target;
            continue;
        }
        const QString real = network ? QString() : QFileInfo(target.device).canonicalFilePath();
        const QString key = real.isEmpty() ? target.device : real;
        if (labelOfDevice.contains(key)) {
            resolution.error = QStringLiteral("%1 and %2 are the same device (%3); each port runs one update")
                                   .arg(labelOfDevice.value(key), port, key);
            return resolution;
        }
        labelOfDevice.insert(key, port);
        resolution.targets << target;
    }
    resolution.error = sameLineError(resolution.targets);
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
    NetworkPortAddress address;
    if (!port.addresses.isEmpty() && parseNetworkPort(device, &address))
        control->networkControl().setKnownAddresses(address.host, port.addresses);
    return control;
}
