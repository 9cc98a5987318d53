#pragma once

#include "SystemView.h"

#include <QMap>
#include <QTemporaryDir>

// A made-up system for the port checks: /proc, /sys, udev's database, the lock folders and the
// device nodes in a scratch folder, and a user database the test writes. sysfs is built as the
// kernel lays it out, with its links; the devices are character device nodes with the numbers
// sysfs gives them, which only root can make (canMakeNodes()).
class MadeUpSystem : public SystemView {
public:
    MadeUpSystem();

    // What a USB serial adapter leaves in sysfs and /dev: the USB device (ids, texts, bus and
    // device number), its interface with the driver, and the tty with its device number. For
    // ttyACM the tty hangs off the interface; for ttyUSB off the usb-serial port, which has the
    // latency timer when `latencyMs` is not empty. Returns the device's path.
    struct Usb {
        QString tty = QStringLiteral("ttyUSB0");
        QString vendor = QStringLiteral("0403"), product = QStringLiteral("6001");
        QString maker = QStringLiteral("FTDI"), name = QStringLiteral("FT232R USB UART"),
                serial = QStringLiteral("A10KZ3X1");
        QString driver = QStringLiteral("ftdi_sio");
        QString devNumber = QStringLiteral("188:0");
        QString latencyMs;
        int bus = 1, address = 4;
        bool withTty = true;
        QString place = QStringLiteral("1-1");
    };
    QString addUsb(const Usb& usb);
    // The node of a USB device, as a process holding it names it.
    static QString usbNode(int bus, int address);
    // A link in the by-id folder to `target`; returns the link's path.
    QString addByIdLink(const QString& name, const QString& target);
    QString addRegularFile(const QString& name);
    // A character device node under the made-up /dev, numbered "MAJ:MIN".
    QString addDeviceNode(const QString& name, const QString& devNumber);
    static bool canMakeNodes();
    // A process with its command name, holding `paths` open.
    void addProcess(qint64 pid, const QString& name, const QStringList& paths = {});
    // LCK..<tty> in the first lock folder, holding `content` as a program wrote it.
    void addLockFile(const QString& tty, const QByteArray& content);
    void addUdevProperty(const QString& devNumber, const QString& property);
    QString devPath(const QString& name) const { return root() + QStringLiteral("/dev/") + name; }
    QString root() const { return dir.path(); }

    // The user database and this process, as the test says.
    QString user = QStringLiteral("alice");
    QString sudo;              // SUDO_USER; empty: not under sudo
    bool accessAllowed = true; // what access() says
    QList<gid_t> userGroups;   // in the database
    QList<gid_t> loginGroups;  // of this process
    gid_t deviceGroup() const; // the group the made-up device files belong to ("dialout")
    qint64 selfPid = 1;

    uid_t uid() const override { return 1000; }
    qint64 ownPid() const override { return selfPid; }
    QString sudoUser() const override { return sudo; }
    QString userName(uid_t id) const override { return id == 1000 ? user : QStringLiteral("root"); }
    QString groupName(gid_t id) const override {
        return id == deviceGroup() ? QStringLiteral("dialout") : QStringLiteral("g%1").arg(id);
    }
    QList<gid_t> databaseGroups(const QString&) const override { return userGroups; }
    QList<gid_t> processGroups() const override { return loginGroups; }
    bool mayReadWrite(const QString&) const override { return accessAllowed; }
    QString homeOf(const QString& name) const override { return root() + QStringLiteral("/home/") + name; }
    uid_t uidOf(const QString&) const override { return 1000; }

private:
    QTemporaryDir dir;
};
