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

// The links in a by-id folder (the stable names udev gives USB adapters) and the ports the
// system reports. A device reached by a link is listed once, known by the first link to it in
// name order; any other by its /dev path. A link whose target is gone is skipped.
class SystemSerialDevices : public SerialDeviceListing {
public:
    // Ports as the system reports them: systemPath and the descriptive texts; stableName unused.
    using PortLister = std::function<QList<PresentDevice>()>;

    explicit SystemSerialDevices(QString byIdFolder = QStringLiteral("/dev/serial/by-id"),
                                 PortLister ports = &SystemSerialDevices::reportedPorts);

    QList<PresentDevice> devices() const override;

    static QList<PresentDevice> reportedPorts();

private:
    QString byIdFolder;
    PortLister ports;
};
