#pragma once

#include <QList>
#include <QString>
#include <functional>

// A serial device present at this moment.
struct PresentDevice {
    QString stableName;                              // the by-id link when there is one, else the /dev path
    QString systemPath;                              // the device itself, e.g. /dev/ttyUSB0
    QString description, manufacturer, serialNumber; // empty when the system does not know them
};

// The serial devices present; tests give a fake folder and fake ports.
class SerialDeviceListing {
public:
    virtual ~SerialDeviceListing() = default;
    virtual QList<PresentDevice> devices() const = 0;
};

// Whether a device's name can be written into the settings file and typed on a command line as
// it is: not empty, no control character (a line break would end the [Ports] line, a tab or CR
// would be trimmed), no U+FFFD (what a name that is not UTF-8 becomes in a QString) and no blank
// at either end of its last part (the settings reader trims values).
bool isStableName(const QString& path);

// The links in a by-id folder (the stable names udev gives USB adapters) and the ports the
// system reports. A device (the same inode, or the same device number for a device node) is
// listed once: known by the first link to it in byte order whose name is stable, else by the
// device's own path, as a device without a link is. A link whose target is gone is skipped. The
// folder is read as bytes: a link whose name is not UTF-8 still leads to its device. Only serial
// lines are listed (see SerialLine.h): a link to a plain file, /dev/null or a console is left out,
// so it never takes a COM number from a real adapter.
class SystemSerialDevices : public SerialDeviceListing {
public:
    // Ports as the system reports them: systemPath and the descriptive texts; stableName unused.
    using PortLister = std::function<QList<PresentDevice>()>;
    // Whether a device path is a serial line.
    using LineTest = std::function<bool(const QString& path)>;

    explicit SystemSerialDevices(QString byIdFolder = QStringLiteral("/dev/serial/by-id"),
                                 PortLister ports = &SystemSerialDevices::reportedPorts,
                                 LineTest isLine = &SystemSerialDevices::isSerialLine);

    QList<PresentDevice> devices() const override;

    static QList<PresentDevice> reportedPorts();
    static bool isSerialLine(const QString& path);

private:
    QString byIdFolder;
    PortLister ports;
    LineTest isLine;
};
