// A made-up /proc, /sys, udev database and lock folder for the port checks, built as the kernel lays them
// out.
#include "MadeUpSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
void write(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

void link(const QString& target, const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile::link(target, path);
}
} // namespace

MadeUpSystem::MadeUpSystem() {
    procRoot = root() + QStringLiteral("/proc");
    sysRoot = root() + QStringLiteral("/sys");
    udevRoot = root() + QStringLiteral("/run/udev");
    byIdFolder = root() + QStringLiteral("/dev/serial/by-id");
    lockFolders = {root() + QStringLiteral("/var/lock"), root() + QStringLiteral("/run/lock")};
    for (const QString& folder :
         {procRoot, sysRoot + QStringLiteral("/class/tty"), udevRoot + QStringLiteral("/data"), byIdFolder,
          lockFolders[0], lockFolders[1]})
        QDir().mkpath(folder);
}

gid_t MadeUpSystem::deviceGroup() const {
    struct stat seen {};
    ::stat(QFile::encodeName(root()).constData(), &seen);
    return seen.st_gid;
}

QString MadeUpSystem::usbNode(int bus, int address) {
    return QStringLiteral("/dev/bus/usb/%1/%2")
        .arg(bus, 3, 10, QLatin1Char('0'))
        .arg(address, 3, 10, QLatin1Char('0'));
}

QString MadeUpSystem::addUsb(const Usb& usb) {
    const QString device =
        sysRoot + QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb%1/%2").arg(usb.bus).arg(usb.place);
    write(device + QStringLiteral("/idVendor"), usb.vendor.toUtf8() + '\n');
    write(device + QStringLiteral("/idProduct"), usb.product.toUtf8() + '\n');
    write(device + QStringLiteral("/manufacturer"), usb.maker.toUtf8() + '\n');
    write(device + QStringLiteral("/product"), usb.name.toUtf8() + '\n');
    write(device + QStringLiteral("/serial"), usb.serial.toUtf8() + '\n');
    write(device + QStringLiteral("/busnum"), QByteArray::number(usb.bus) + '\n');
    write(device + QStringLiteral("/devnum"), QByteArray::number(usb.address) + '\n');
    link(device, sysRoot + QStringLiteral("/bus/usb/devices/") + usb.place);
    const QString interface = device + QLatin1Char('/') + usb.place + QStringLiteral(":1.0");
    write(interface + QStringLiteral("/bInterfaceNumber"), "00\n");
    link(interface, sysRoot + QStringLiteral("/bus/usb/devices/") + usb.place + QStringLiteral(":1.0"));
    if (!usb.withTty)
        return QString();
    const bool acm = usb.tty.startsWith(QStringLiteral("ttyACM"));
    // ttyACM hangs off the interface; ttyUSB off the usb-serial port below it.
    const QString port = acm ? interface : interface + QLatin1Char('/') + usb.tty;
    link(sysRoot + QStringLiteral("/bus/usb/drivers/") + usb.driver, port + QStringLiteral("/driver"));
    if (!usb.latencyMs.isEmpty())
        write(port + QStringLiteral("/latency_timer"), usb.latencyMs.toUtf8() + '\n');
    const QString tty = port + QStringLiteral("/tty/") + usb.tty;
    write(tty + QStringLiteral("/dev"), usb.devNumber.toUtf8() + '\n');
    link(QStringLiteral("../../"), tty + QStringLiteral("/device"));
    link(tty, sysRoot + QStringLiteral("/class/tty/") + usb.tty);
    link(tty, sysRoot + QStringLiteral("/dev/char/") + usb.devNumber);
    return addDeviceNode(usb.tty, usb.devNumber);
}

bool MadeUpSystem::canMakeNodes() {
    return ::geteuid() == 0;
}

QString MadeUpSystem::addDeviceNode(const QString& name, const QString& devNumber) {
    const QString path = devPath(name);
    QDir().mkpath(QFileInfo(path).path());
    const dev_t number = ::makedev(devNumber.section(':', 0, 0).toUInt(), devNumber.section(':', 1).toUInt());
    ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0660, number);
    return path;
}

QString MadeUpSystem::addByIdLink(const QString& name, const QString& target) {
    const QString path = byIdFolder + QLatin1Char('/') + name;
    link(target, path);
    return path;
}

QString MadeUpSystem::addRegularFile(const QString& name) {
    write(devPath(name), QByteArray());
    return devPath(name);
}

void MadeUpSystem::addProcess(qint64 pid, const QString& name, const QStringList& paths) {
    const QString folder = procRoot + QLatin1Char('/') + QString::number(pid);
    write(folder + QStringLiteral("/comm"), name.toUtf8() + '\n');
    QDir().mkpath(folder + QStringLiteral("/fd"));
    int fd = 3;
    for (const QString& path : paths)
        link(path, folder + QStringLiteral("/fd/") + QString::number(fd++));
}

void MadeUpSystem::addLockFile(const QString& tty, const QByteArray& content) {
    write(lockFolders[0] + QStringLiteral("/LCK..") + tty, content);
}

void MadeUpSystem::addUdevProperty(const QString& devNumber, const QString& property) {
    QFile file(udevRoot + QStringLiteral("/data/c") + devNumber);
    if (file.open(QIODevice::Append))
        file.write("E:" + property.toUtf8() + '\n');
}
