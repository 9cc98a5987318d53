// The serial devices present: by-id links first, then the ports the system reports.
#include "SerialDeviceListing.h"

#include "SerialLine.h"

#include <QFile>
#include <QSerialPortInfo>
#include <QSet>
#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace {
// What makes two paths one device: the device number of a device node (udev may give it more
// than one node and link), else the inode; the path itself when it cannot be looked at.
QString deviceKey(const QByteArray& path) {
    struct stat seen {};
    if (::stat(path.constData(), &seen) != 0)
        return QStringLiteral("path:") + QFile::decodeName(path);
    if (S_ISCHR(seen.st_mode) || S_ISBLK(seen.st_mode))
        return QStringLiteral("dev:%1").arg(quint64(seen.st_rdev));
    return QStringLiteral("inode:%1:%2").arg(quint64(seen.st_dev)).arg(quint64(seen.st_ino));
}

// The name as a QString, or null when the bytes do not come back from it (not UTF-8).
QString decodedWhole(const QByteArray& bytes) {
    const QString name = QFile::decodeName(bytes);
    return QFile::encodeName(name) == bytes ? name : QString();
}

// The folder's entries as bytes, in byte order; none when it cannot be read.
QList<QByteArray> entriesOf(const QByteArray& folder) {
    QList<QByteArray> names;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

QString realPathOf(const QByteArray& path) {
    char* resolved = ::realpath(path.constData(), nullptr);
    if (!resolved)
        return QString();
    const QString target = decodedWhole(QByteArray(resolved));
    std::free(resolved);
    return target;
}
} // namespace

bool isStableName(const QString& path) {
    if (path.isEmpty())
        return false;
    for (const QChar c : path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QChar::ReplacementCharacter)
            return false;
    const QString last = path.section(QLatin1Char('/'), -1);
    return !last.isEmpty() && !last.front().isSpace() && !last.back().isSpace();
}

SystemSerialDevices::SystemSerialDevices(QString byIdFolder, PortLister ports, LineTest isLine)
    : byIdFolder(std::move(byIdFolder))
    , ports(std::move(ports))
    , isLine(std::move(isLine)) {}

bool SystemSerialDevices::isSerialLine(const QString& path) {
    return judgeSerialLine(path).serial;
}

QList<PresentDevice> SystemSerialDevices::reportedPorts() {
    QList<PresentDevice> reported;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        reported.append(
            {QString(), info.systemLocation(), info.description(), info.manufacturer(), info.serialNumber()});
    return reported;
}

QList<PresentDevice> SystemSerialDevices::devices() const {
    QList<PresentDevice> reported;
    QList<QString> reportedKeys;
    for (const PresentDevice& port : ports ? ports() : QList<PresentDevice>())
        if (isLine(port.systemPath)) {
            reported.append(port);
            reportedKeys.append(deviceKey(QFile::encodeName(port.systemPath)));
        }

    QList<PresentDevice> present;
    QList<QString> presentKeys;
    QSet<QString> named; // devices already known by a stable link
    const QByteArray folder = QFile::encodeName(byIdFolder);
    for (const QByteArray& entry : entriesOf(folder)) {
        const QByteArray link = folder + '/' + entry;
        struct stat seen {};
        if (::lstat(link.constData(), &seen) != 0 || !S_ISLNK(seen.st_mode))
            continue;
        const QString target = realPathOf(link);
        if (target.isEmpty())
            continue; // its device is gone
        if (!isLine(target))
            continue; // a file, a folder, /dev/null, a console: no line to a module
        const QString key = deviceKey(link);
        const QString linkName = decodedWhole(link);
        const bool stable = !linkName.isNull() && isStableName(linkName);
        const qsizetype known = presentKeys.indexOf(key);
        if (known >= 0) {
            // A later link can still give a device known only by its path a stable name.
            if (stable && !named.contains(key)) {
                present[known].stableName = linkName;
                named.insert(key);
            }
            continue;
        }
        PresentDevice device{stable ? linkName : target, target, {}, {}, {}};
        const qsizetype port = reportedKeys.indexOf(key);
        if (port >= 0) {
            device.description = reported[port].description;
            device.manufacturer = reported[port].manufacturer;
            device.serialNumber = reported[port].serialNumber;
        }
        if (stable)
            named.insert(key);
        present.append(device);
        presentKeys.append(key);
    }
    for (qsizetype i = 0; i < reported.size(); ++i) {
        if (presentKeys.contains(reportedKeys[i]))
            continue;
        PresentDevice port = reported[i];
        port.stableName = port.systemPath;
        present.append(port);
        presentKeys.append(reportedKeys[i]);
    }
    return present;
}
