// The port menu following the hardware: adapters plugged in or pulled out while the window runs.
#include "Form1.h"

#include "DeviceFolderWatch.h"
#include "PortAssignment.h"
#include "SerialControl.h"
#include "UpdateEngine.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <sys/stat.h>

namespace {
// A device as it stands now. A node made anew (pulled out and plugged back in between two
// looks) is another device, and is tried again.
QString keyOf(const PresentDevice& device) {
    struct stat seen {};
    if (::stat(QFile::encodeName(device.systemPath).constData(), &seen) != 0)
        return device.systemPath;
    return QStringLiteral("%1 %2 %3")
        .arg(device.systemPath)
        .arg(quint64(seen.st_ino))
        .arg(quint64(seen.st_rdev));
}

QStringList keysOf(const QList<PresentDevice>& devices) {
    QStringList keys;
    for (const PresentDevice& device : devices)
        keys << keyOf(device);
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Whether a [Ports] value leads to the device: by its own names, or by another link to it.
bool leadsTo(const QString& value, const PresentDevice& device) {
    return !value.isEmpty() && (value == device.stableName || value == device.systemPath ||
                                QFileInfo(value).canonicalFilePath() == device.systemPath);
}
} // namespace

void Form1::startFollowingHardware() {
    knownDevices = keysOf(ports.present);
    for (int i = 1; i <= 9; ++i)
        if (com[i]->isVisible())
            shownDevice[i] = QFileInfo(ports.deviceFor(i)).canonicalFilePath();
    hardwareWatch = std::make_unique<DeviceFolderWatch>(io.watchedFolders);
    connect(hardwareWatch.get(), &DeviceFolderWatch::settled, this, &Form1::followHardware);
}

QStringList Form1::deviceKeys() const {
    return keysOf(deviceListing.devices());
}

void Form1::followHardware() {
    if (!hardwareWatch)
        return; // the start-up's scan has not run yet
    if (sessionRunning || ComTestRunning || portOpening || engine().sessionActive()) {
        // A port tried now would share the line with the session's module; a number given now
        // would change the menu under the operator's session. A port being opened (a network
        // connect runs the event loop) is let finish first; the click takes the change up then.
        hardwareWaits = true;
        return;
    }
    hardwareWaits = false;
    hideLeftovers();
    // An RFC 2217 server's acknowledgements come after the open.
    if (serial.PortOpen())
        showPortDetails(serial.CommPort());
    // Only the folders are read here: nothing is opened unless a device came.
    if (deviceKeys() == knownDevices)
        return;
    const QList<PresentDevice> before = ports.present;
    const QStringList beforeKeys = knownDevices;
    assignComPorts();
    knownDevices = keysOf(ports.present);
    QList<PresentDevice> appeared, vanished;
    for (const PresentDevice& device : ports.present)
        if (!beforeKeys.contains(keyOf(device)))
            appeared << device;
    for (const PresentDevice& device : before)
        if (!knownDevices.contains(keyOf(device)))
            vanished << device;
    hidePortsOf(vanished);
    showPortsOf(appeared);
    if (serial.PortOpen())
        showPortDetails(serial.CommPort());
}

// The open port stays, with its mark, until it is closed: its line tells the loss itself.
void Form1::hidePortsOf(const QList<PresentDevice>& vanished) {
    for (int i = 1; i <= 9; ++i) {
        if (!com[i]->isVisible())
            continue;
        const QString value = ports.deviceFor(i);
        const bool gone = std::any_of(vanished.cbegin(), vanished.cend(), [&](const PresentDevice& device) {
            return value == device.stableName || value == device.systemPath ||
                   shownDevice[i] == device.systemPath;
        });
        if (!gone)
            continue;
        if (serial.PortOpen() && serial.CommPort() == i) {
            keptOpen.insert(i);
            continue;
        }
        com[i]->setVisible(false);
        shownDevice[i].clear();
    }
    bool any = false;
    for (int i = 1; i <= 9; ++i)
        any = any || com[i]->isVisible();
    com[0]->setVisible(!any);
}

// Each port whose device just came is tried once, on the probe: the window's own control may
// hold another port open meanwhile.
void Form1::showPortsOf(const QList<PresentDevice>& appeared) {
    for (int i = 1; i <= 9; ++i) {
        if (com[i]->isVisible())
            continue;
        const QString value = ports.deviceFor(i);
        if (std::none_of(appeared.cbegin(), appeared.cend(),
                         [&](const PresentDevice& device) { return leadsTo(value, device); }))
            continue;
        portProbe.setCommPort(i);
        const bool usable = portProbe.setPortOpen(true);
        portFailures[i] = usable ? QString() : portProbe.openFailureText();
        portProbe.setPortOpen(false);
        if (!usable)
            continue;
        com[i]->setVisible(true);
        com[0]->setVisible(false);
        shownDevice[i] = QFileInfo(value).canonicalFilePath();
    }
}

// A port kept because it was open when its device went goes once it is closed.
void Form1::hideLeftovers() {
    for (auto it = keptOpen.begin(); it != keptOpen.end();) {
        if (serial.PortOpen() && serial.CommPort() == *it) {
            ++it;
            continue;
        }
        com[*it]->setChecked(false);
        com[*it]->setVisible(false);
        shownDevice[*it].clear();
        it = keptOpen.erase(it);
    }
    bool any = false;
    for (int i = 1; i <= 9; ++i)
        any = any || com[i]->isVisible();
    com[0]->setVisible(!any);
}

// What came or went during the session is taken up as soon as it has ended.
void Form1::afterSession() {
    if (hardwareWaits)
        followHardware();
}
