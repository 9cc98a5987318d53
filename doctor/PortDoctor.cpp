// One local port's checks in their order, the USB adapters without a line, and the one-sentence cause.
#include "PortDoctor.h"

#include "DeviceFacts.h"
#include "LocalChecks.h"
#include "SystemView.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <sys/stat.h>

namespace {
// The makers of the USB serial chips found in bench adapters: FTDI, QinHeng (CH340), Silicon
// Labs (CP210x), Prolific. An adapter of theirs with no tty has lost its line.
const QStringList SerialChipVendors{QStringLiteral("0403"), QStringLiteral("1a86"), QStringLiteral("10c4"),
                                    QStringLiteral("067b")};

bool holdsTty(const QString& folder, int depth) {
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName().startsWith(QStringLiteral("tty")))
            return true;
        if (depth > 0 && holdsTty(entry.filePath(), depth - 1))
            return true;
    }
    return false;
}
} // namespace

PortReport checkLocalPort(const SystemView& system, const QString& label, const QString& path,
                          const QString& mapping, bool tryOpen) {
    PortReport report;
    report.port = label;
    report.device = path;
    const DeviceFacts facts = readDeviceFacts(system, path);
    report.checks << deviceCheck(facts, mapping);
    const PortCheck present = presentCheck(facts);
    report.checks << present;
    if (present.status != PortCheck::Status::Ok)
        return report;
    const PortCheck line = serialLineCheck(system, facts);
    report.checks << line;
    // Who holds a file that is no line, or whether it opens, helps nobody choose the right one.
    if (line.status != PortCheck::Status::Ok)
        return report;
    const PortCheck access = accessCheck(system, facts);
    report.checks << access;
    const HoldersFound found = findHolders(system, {facts.resolved, facts.given});
    report.checks << holdersCheck(found, system, facts);
    const PortCheck lock = lockFileCheck(system, facts);
    report.checks << lock;
    report.checks << modemManagerCheck(system, facts);
    if (facts.isUsb())
        report.checks << brlttyCheck(system, facts);
    if (!facts.latencyTimer.isEmpty())
        report.checks << latencyTimerCheck(facts);
    const bool openable = line.status == PortCheck::Status::Ok && access.status == PortCheck::Status::Ok;
    if (tryOpen && openable)
        report.checks << openCheck(facts,
                                   !found.holders.isEmpty() || lock.status == PortCheck::Status::Problem);
    return report;
}

QList<PortReport> adaptersWithoutTty(const SystemView& system) {
    QList<PortReport> reports;
    const QDir devices(system.sysRoot + QStringLiteral("/bus/usb/devices"));
    for (const QString& name :
         devices.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString folder = QFileInfo(devices.filePath(name)).canonicalFilePath();
        if (folder.isEmpty() || !QFileInfo::exists(folder + QStringLiteral("/idVendor")))
            continue; // an interface, not a device
        DeviceFacts facts;
        readUsbIdentity(system, folder, facts);
        if (!SerialChipVendors.contains(facts.vendorId) || holdsTty(folder, 2))
            continue;
        PortReport report;
        report.port = QStringLiteral("USB %1").arg(name);
        report.device = QStringLiteral("%1:%2").arg(facts.vendorId, facts.productId);
        report.counts = false;
        report.checks << deviceCheck(facts, QString());
        PortCheck brltty = brlttyCheck(system, facts);
        if (brltty.status == PortCheck::Status::Ok) {
            brltty.status = PortCheck::Status::Problem;
            brltty.name = QStringLiteral("no-tty");
            brltty.text =
                QStringLiteral("this serial adapter has no tty: no driver took it (%1)").arg(brltty.text);
            brltty.fix =
                QStringLiteral("`sudo dmesg | tail` after plugging it in says why; plug it into another "
                               "USB port");
        }
        report.checks << brltty;
        reports << report;
    }
    return reports;
}

QString openFailureCause(const SystemView& system, const QString& path) {
    return checkLocalPort(system, QString(), path, QString(), false).firstCause();
}

QString deviceIdentityText(const SystemView& system, const QString& path) {
    const DeviceFacts facts = readDeviceFacts(system, path);
    QStringList parts;
    if (!facts.identity().isEmpty())
        parts << facts.identity();
    if (!facts.byId.isEmpty() && facts.byId != path)
        parts << QStringLiteral("by-id %1").arg(QFileInfo(facts.byId).fileName());
    return parts.join(QStringLiteral("; "));
}
