#pragma once

#include <QMap>
#include <QString>

class SystemView;

// What the kernel and udev tell of a local device, read without opening it.
struct DeviceFacts {
    QString given;        // the path as named
    QString resolved;     // what it leads to; empty when nothing is there
    QString byId;         // a stable link in the by-id folder that leads to it, if any
    QString ttyName;      // the kernel's name: ttyUSB0, ttyACM0, pts/3 (a pty has no sysfs entry)
    QString devNumber;    // "188:0", from sysfs
    QString driver;       // the kernel driver of the port or interface
    QString latencyTimer; // milliseconds, where the driver has one
    // A USB adapter's device.
    QString usbFolder; // its sysfs folder; empty for a device that is not on USB
    QString vendorId, productId, maker, product, serial;
    QString usbNode;             // /dev/bus/usb/BBB/DDD
    QMap<QString, QString> udev; // udev's properties of the tty (ID_MM_DEVICE_IGNORE=1, ...)

    bool isUsb() const { return !usbFolder.isEmpty(); }
    // "USB 0403:6001 FTDI FT232R USB UART, serial A10KZ3X1, driver ftdi_sio", leaving out what
    // is not known; the driver alone for a device not on USB.
    QString identity() const;
};

DeviceFacts readDeviceFacts(const SystemView& system, const QString& path);

// The USB device folder (one holding idVendor) at or above `folder`, stopping at the sys root.
QString usbDeviceAbove(const SystemView& system, const QString& folder);
// The identity fields of a USB device folder.
void readUsbIdentity(const SystemView& system, const QString& usbFolder, DeviceFacts& facts);
// A one-line file of sysfs, trimmed; empty when absent.
QString readSysValue(const QString& file);
