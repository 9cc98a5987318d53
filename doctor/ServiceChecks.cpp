// The services that take serial adapters away: ModemManager probing them, brltty claiming them.
#include "LocalChecks.h"

#include "SystemView.h"

PortCheck modemManagerCheck(const SystemView& system, const DeviceFacts& facts) {
    PortCheck check{QStringLiteral("modemmanager"), PortCheck::Status::Ok, QString(), QString(), QString()};
    const QList<qint64> running = processesNamed(system, QStringLiteral("ModemManager"));
    if (running.isEmpty()) {
        check.text = QStringLiteral("ModemManager is not running");
        return check;
    }
    // Debian 12's ModemManager filters strictly: it probes ttyACM devices and what udev marks
    // for it, and leaves alone what udev marks to be ignored.
    const bool ignored = facts.udev.value(QStringLiteral("ID_MM_DEVICE_IGNORE")) == QStringLiteral("1");
    const bool marked = facts.udev.value(QStringLiteral("ID_MM_DEVICE_PROCESS")) == QStringLiteral("1");
    const bool acm = facts.ttyName.startsWith(QStringLiteral("ttyACM"));
    if (ignored) {
        check.text = QStringLiteral(
            "ModemManager runs but leaves this device alone (udev marks it ID_MM_DEVICE_IGNORE)");
        return check;
    }
    if (!acm && !marked) {
        check.text = QStringLiteral("ModemManager runs but does not probe this device");
        return check;
    }
    check.status = PortCheck::Status::Problem;
    check.text =
        QStringLiteral("ModemManager (PID %1) probes %2 with modem commands: it may hold the port and "
                       "sends bytes to the module")
            .arg(running.first())
            .arg(acm ? QStringLiteral("this ttyACM device")
                     : QStringLiteral("this device (udev marks it ID_MM_DEVICE_PROCESS)"));
    const QString rule =
        facts.isUsb()
            ? QStringLiteral(
                  "ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"")
                  .arg(facts.vendorId, facts.productId)
            : QStringLiteral("KERNEL==\"%1\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"").arg(facts.ttyName);
    check.fix =
        QStringLiteral("echo '%1' | sudo tee /etc/udev/rules.d/99-kestrune-serial.rules && sudo udevadm "
                       "control --reload && sudo udevadm trigger; or, with no modem on this bench: sudo "
                       "systemctl disable --now ModemManager")
            .arg(rule);
    check.cause = QStringLiteral("ModemManager probes it (see kestrune-update --doctor)");
    return check;
}

PortCheck brlttyCheck(const SystemView& system, const DeviceFacts& facts) {
    PortCheck check{QStringLiteral("brltty"), PortCheck::Status::Ok, QString(), QString(), QString()};
    const QList<qint64> running = processesNamed(system, QStringLiteral("brltty"));
    if (running.isEmpty()) {
        check.text = QStringLiteral("brltty is not running");
        return check;
    }
    const HoldersFound found =
        facts.usbNode.isEmpty() ? HoldersFound() : findHolders(system, {facts.usbNode});
    for (const ProcessHold& holder : found.holders)
        if (holder.name == QStringLiteral("brltty")) {
            check.status = PortCheck::Status::Problem;
            check.text =
                QStringLiteral("brltty (PID %1) holds this adapter's USB device %2: it takes the adapter "
                               "for a braille display, so its serial line goes")
                    .arg(holder.pid)
                    .arg(facts.usbNode);
            check.fix =
                QStringLiteral("sudo systemctl mask --now brltty-udev.service brltty.service, then plug the "
                               "adapter in again; with no braille display: sudo apt remove brltty");
            check.cause = QStringLiteral("brltty (PID %1) holds the adapter").arg(holder.pid);
            return check;
        }
    check.text = QStringLiteral("brltty runs but does not hold this adapter");
    return check;
}
