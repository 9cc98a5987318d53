// --doctor: which ports are checked, how each was named, and the exit status of the checks.
#include "DoctorCommand.h"

#include "DoctorOutput.h"
#include "NetworkChecks.h"
#include "NetworkControl.h"
#include "NetworkPortAddress.h"
#include "PortAssignment.h"
#include "PortDoctor.h"
#include "PortTargets.h"
#include "SystemView.h"

#include <QFileInfo>
#include <algorithm>

namespace {
QString comMapping(const PortAssignmentResult& assignment, int com) {
    const QString device = assignment.map.deviceFor(com);
    const bool added = std::any_of(assignment.added.cbegin(), assignment.added.cend(),
                                   [com](const NewPortLine& line) { return line.com == com; });
    if (added)
        return QStringLiteral(
                   "COM%1 = %2 (no [Ports] line yet: the window and the updates give it this number)")
            .arg(com)
            .arg(device);
    if (assignment.map.lines.contains(com))
        return QStringLiteral("COM%1 = %2 ([Ports])").arg(com).arg(device);
    return QStringLiteral("COM%1 = %2 (no [Ports] line: the built-in port)").arg(com).arg(device);
}

PortReport checkNamed(const SystemView& system, const QString& label, const QString& device,
                      const QString& mapping) {
    if (looksLikeNetworkPort(device))
        return checkNetworkPort(label, device, mapping, NetworkControl::DefaultConnectLimitMs);
    return checkLocalPort(system, label, device, mapping, true);
}
} // namespace

QString doctorSettingsFile(const SystemView& system) {
    const QString sudo = system.sudoUser();
    if (sudo.isEmpty() || system.homeOf(sudo).isEmpty())
        return cliSettingsFile();
    return system.homeOf(sudo) +
           QStringLiteral("/.config/Kestrune_Update_Utility/Kestrune_Update_Utility.ini");
}

int runDoctor(const SystemView& system, const QStringList& ports, bool json, OutputStream& out) {
    const QString settingsFile = doctorSettingsFile(system);
    const bool needMap =
        ports.isEmpty() ||
        std::any_of(ports.cbegin(), ports.cend(), [](const QString& port) { return !port.contains('/'); });
    const PortAssignmentResult assignment =
        needMap ? readPortAssignment(settingsFile, SystemSerialDevices()) : PortAssignmentResult();
    QList<PortReport> reports;
    for (const QString& port : ports) {
        if (port.contains('/')) {
            reports << checkNamed(system, port, port, QString());
            continue;
        }
        const int com = port.mid(3).toInt();
        reports << checkNamed(system, port, assignment.map.deviceFor(com), comMapping(assignment, com));
    }
    if (ports.isEmpty()) {
        for (int com = FirstComPort; com <= LastComPort; ++com) {
            const QString label = QStringLiteral("COM%1").arg(com);
            const QString device = assignment.map.deviceFor(com);
            if (looksLikeNetworkPort(device)) {
                reports << networkPortNotTried(label, device, comMapping(assignment, com));
                continue;
            }
            if (!assignment.map.lines.contains(com) && QFileInfo(device).canonicalFilePath().isEmpty()) {
                // A built-in number whose device is absent is no port of this bench, only a free number.
                PortReport free{label, device, {}, false};
                free.checks << PortCheck{
                    QStringLiteral("device"), PortCheck::Status::Ok,
                    QStringLiteral("no [Ports] line, and the built-in %1 is not there: the "
                                   "number is free for an adapter")
                        .arg(device),
                    QString(), QString()};
                reports << free;
                continue;
            }
            reports << checkLocalPort(system, label, device, comMapping(assignment, com), true);
        }
        for (const PresentDevice& device : assignment.unassigned) {
            PortReport report =
                checkLocalPort(system, device.stableName, device.stableName,
                               QStringLiteral("no COM number left (all nine are taken)"), false);
            report.counts = false;
            reports << report;
        }
        reports << adaptersWithoutTty(system);
    }
    const DoctorHeading heading{system.judgedUser(), !system.sudoUser().isEmpty(), settingsFile};
    if (json)
        writeDoctorJson(heading, reports, out);
    else
        writeDoctorText(heading, reports, out);
    const bool allUsable = std::all_of(reports.cbegin(), reports.cend(), [](const PortReport& report) {
        return !report.counts || report.usable();
    });
    return allUsable ? 0 : 1;
}
