// The serial devices present: by-id links first, then the ports the system reports.
#include "SerialDeviceListing.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSet>

namespace {
QString canonical(const QString& path) {
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}
} // namespace

SystemSerialDevices::SystemSerialDevices(QString byIdFolder, PortLister ports)
    : byIdFolder(std::move(byIdFolder))
    , ports(std::move(ports)) {}

QList<PresentDevice> SystemSerialDevices::reportedPorts() {
    QList<PresentDevice> reported;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        reported.append(
            {QString(), info.systemLocation(), info.description(), info.manufacturer(), info.serialNumber()});
    return reported;
}

QList<PresentDevice> SystemSerialDevices::devices() const {
    const QList<PresentDevice> reported = ports ? ports() : QList<PresentDevice>();
    QList<PresentDevice> present;
    QSet<QString> reached;
    const QDir folder(byIdFolder);
    const QStringList links =
        folder.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : links) {
        const QFileInfo link(folder.filePath(name));
        const QString target = link.canonicalFilePath();
        if (!link.isSymLink() || target.isEmpty() || reached.contains(target))
            continue;
        reached.insert(target);
        PresentDevice device{link.filePath(), target, {}, {}, {}};
        for (const PresentDevice& port : reported)
            if (canonical(port.systemPath) == target) {
                device.description = port.description;
                device.manufacturer = port.manufacturer;
                device.serialNumber = port.serialNumber;
            }
        present.append(device);
    }
    for (PresentDevice port : reported) {
        if (reached.contains(canonical(port.systemPath)))
            continue;
        reached.insert(canonical(port.systemPath));
        port.stableName = port.systemPath;
        present.append(port);
    }
    return present;
}
