// Stable COM numbers for the devices present, and the [Ports] lines that keep them.
#include "PortAssignment.h"

#include "SettingsFile.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <algorithm>

namespace {
const QString PortsSection = QStringLiteral("Ports");

QString comKey(int com) {
    return QStringLiteral("COM%1").arg(com);
}

bool serves(const QString& value, const PresentDevice& device) {
    if (value.isEmpty())
        return false;
    if (value == device.stableName || value == device.systemPath)
        return true;
    // A hand-written line may name the device by another link (by-path, a link of its own).
    const QString resolved = QFileInfo(value).canonicalFilePath();
    return !resolved.isEmpty() && resolved == QFileInfo(device.systemPath).canonicalFilePath();
}

// COM<k+1> for the built-in /dev/ttyS<k>, 0 for any other device.
int builtInNumber(const PresentDevice& device) {
    static const QRegularExpression builtIn(QStringLiteral("^/dev/ttyS([0-9]{1,2})$"));
    const QRegularExpressionMatch match = builtIn.match(device.systemPath);
    return match.hasMatch() ? match.captured(1).toInt() + 1 : 0;
}
} // namespace

PortAssignment assignComPorts(const QMap<int, QString>& lines, const QList<PresentDevice>& present) {
    QList<PresentDevice> waiting;
    for (const PresentDevice& device : present)
        if (std::none_of(lines.cbegin(), lines.cend(),
                         [&device](const QString& value) { return serves(value, device); }))
            waiting.append(device);
    std::sort(waiting.begin(), waiting.end(),
              [](const PresentDevice& a, const PresentDevice& b) { return a.stableName < b.stableName; });

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
    QStringList parts;
    for (const PresentDevice& device : present)
        if (serves(path, device)) {
            parts << device.description << device.manufacturer << device.serialNumber;
            break;
        }
    parts << path;
    parts.removeAll(QString());
    return parts.join(QStringLiteral(" — "));
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
