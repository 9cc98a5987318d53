// Stable COM numbers for the devices present, and the [Ports] lines that keep them.
#include "PortAssignment.h"

#include "NetworkControl.h"
#include "NetworkPortAddress.h"
#include "SerialLine.h"
#include "SettingsFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <sys/stat.h>

namespace {
const QString PortsSection = QStringLiteral("Ports");

QString comKey(int com) {
    return QStringLiteral("COM%1").arg(com);
}

// Two names of one device: the same device number (udev's links, a node made by hand), or
// the same file.
bool sameDevice(const QString& a, const QString& b) {
    struct stat first {
    }, second{};
    if (::stat(QFile::encodeName(a).constData(), &first) != 0 ||
        ::stat(QFile::encodeName(b).constData(), &second) != 0)
        return false;
    if (S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode))
        return first.st_rdev == second.st_rdev;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool serves(const QString& value, const PresentDevice& device) {
    // A network address is no file: never looked up on disk (a folder named "rfc2217:" could
    // make it one) and never a local device's line.
    if (value.isEmpty() || looksLikeNetworkPort(value))
        return false;
    // A hand-written line may name the device by another link (by-path, a link of its own).
    return value == device.stableName || value == device.systemPath || sameDevice(value, device.systemPath);
}

// A name the settings reader would give back otherwise (trimmed, cut at a line break) would
// not find its device at the next start, which would then get another line each time.
bool comesBackWhole(const QString& name) {
    if (!isStableName(name))
        return false;
    SettingsText probe;
    return probe.setValue(PortsSection, comKey(FirstComPort), name) &&
           probe.value(PortsSection, comKey(FirstComPort)) == name;
}

PresentDevice asWritten(PresentDevice device) {
    if (!comesBackWhole(device.stableName))
        device.stableName = device.systemPath;
    return device;
}

// COM<k+1> for the built-in /dev/ttyS<k>, 0 for any other device.
int builtInNumber(const PresentDevice& device) {
    static const QRegularExpression builtIn(QStringLiteral("^/dev/ttyS([0-9]{1,2})$"));
    const QRegularExpressionMatch match = builtIn.match(device.systemPath);
    return match.hasMatch() ? match.captured(1).toInt() + 1 : 0;
}
} // namespace

PortAssignment assignComPorts(const QMap<int, QString>& lines, const QList<PresentDevice>& present) {
    // A line serves every entry of its device: one naming the by-id link also serves the
    // device listed once more by its path.
    const auto servedByALine = [&lines, &present](const PresentDevice& device) {
        return std::any_of(present.cbegin(), present.cend(), [&lines, &device](const PresentDevice& entry) {
            return (entry.systemPath == device.systemPath ||
                    sameDevice(entry.systemPath, device.systemPath)) &&
                   std::any_of(lines.cbegin(), lines.cend(),
                               [&entry](const QString& value) { return serves(value, entry); });
        });
    };
    QList<PresentDevice> listed;
    for (const PresentDevice& device : present)
        if (!servedByALine(device))
            listed.append(asWritten(device));
    std::sort(listed.begin(), listed.end(),
              [](const PresentDevice& a, const PresentDevice& b) { return a.stableName < b.stableName; });
    QList<PresentDevice> waiting;
    for (const PresentDevice& device : listed)
        if (std::none_of(waiting.cbegin(), waiting.cend(), [&device](const PresentDevice& earlier) {
                return serves(device.systemPath, earlier) || serves(device.stableName, earlier);
            }))
            waiting.append(device);

    QSet<int> taken;
    for (auto line = lines.cbegin(); line != lines.cend(); ++line)
        taken.insert(line.key());
    PortAssignment result;
    QList<PresentDevice> others;
    for (const PresentDevice& device : waiting) {
        const int own = builtInNumber(device);
        if (own >= FirstComPort && own <= LastComPort && !taken.contains(own)) {
            taken.insert(own);
            result.added.append({own, device});
        } else {
            others.append(device);
        }
    }
    for (const PresentDevice& device : others) {
        int com = FirstComPort;
        while (com <= LastComPort && taken.contains(com))
            ++com;
        if (com > LastComPort) {
            result.unassigned.append(device);
            continue;
        }
        taken.insert(com);
        result.added.append({com, device});
    }
    std::sort(result.added.begin(), result.added.end(),
              [](const NewPortLine& a, const NewPortLine& b) { return a.com < b.com; });
    return result;
}

QString PortMap::deviceFor(int com) const {
    const auto line = lines.constFind(com);
    return line != lines.cend() ? *line : QStringLiteral("/dev/ttyS%1").arg(com - 1);
}

QString PortMap::toolTip(int com) const {
    const QString path = deviceFor(com);
    if (looksLikeNetworkPort(path))
        return NetworkControl::addressDetails(path);
    QStringList parts{notASerialLine(com)};
    if (parts.front().isEmpty())
        for (const PresentDevice& device : present)
            if (serves(path, device)) {
                parts << device.description << device.manufacturer << device.serialNumber;
                break;
            }
    parts << path;
    parts.removeAll(QString());
    return parts.join(QStringLiteral(" — "));
}

QString PortMap::notASerialLine(int com) const {
    const QString path = deviceFor(com);
    if (looksLikeNetworkPort(path) || !QFileInfo::exists(path))
        return QString();
    const SerialLineVerdict verdict = judgeSerialLine(path);
    if (verdict.serial)
        return QString();
    const QLatin1String notALine("not a serial line");
    return verdict.what.contains(notALine) ? verdict.what : notALine + QStringLiteral(": ") + verdict.what;
}

namespace {
// One pass over the file as it stands: its lines, and the numbers new devices get.
PortAssignmentResult assignFrom(const SettingsText& settings, const QList<PresentDevice>& present) {
    PortAssignmentResult result;
    for (int com = FirstComPort; com <= LastComPort; ++com) {
        const QString value = settings.value(PortsSection, comKey(com));
        if (!value.isNull())
            result.map.lines.insert(com, value);
    }
    result.map.present = present;
    const PortAssignment assignment = assignComPorts(result.map.lines, result.map.present);
    result.added = assignment.added;
    result.unassigned = assignment.unassigned;
    return result;
}
} // namespace

PortAssignmentResult applyPortAssignment(const QString& settingsFile, const SerialDeviceListing& listing) {
    const QList<PresentDevice> present = listing.devices();
    SettingsText settings;
    QString readError;
    bool readable = loadSettingsText(settingsFile, settings, readError);
    PortAssignmentResult result = assignFrom(settings, present);
    if (result.added.isEmpty())
        return result;

    // Something to write: again under the lock, so that a window and a command line started
    // together do not lose each other's new lines.
    const SettingsLock held(settingsFile);
    readable = loadSettingsText(settingsFile, settings, readError);
    result = assignFrom(settings, present);
    if (result.added.isEmpty())
        return result;
    QString unwritable;
    for (const NewPortLine& line : result.added) {
        result.map.lines.insert(line.com, line.device.stableName);
        if (!settings.setValue(PortsSection, comKey(line.com), line.device.stableName))
            unwritable =
                QStringLiteral("the name %1 cannot be written as one line").arg(line.device.stableName);
    }
    // A file that could not be read is not overwritten with what little was known of it.
    if (!readable)
        result.writeError = readError;
    else if (saveSettingsText(settingsFile, settings, result.writeError))
        result.writeError = unwritable;
    return result;
}
