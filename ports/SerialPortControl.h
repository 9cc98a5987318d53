#pragma once

#include "SerialControl.h"

#include <QSerialPort>
#include <functional>

class EventPass;

// The serial control over QSerialPort. COM port n is opened on the device that
// `deviceForPort` names for it.
class SerialPortControl : public SerialControl {
    Q_OBJECT
public:
    using DeviceMap = std::function<QString(int port)>;

    // How long Output waits for a peer that takes no bytes at all.
    static constexpr qint64 StallLimitMs = 4000;
    static constexpr qint32 BaudRate = 115200;
    static constexpr qint64 BitsPerByte = 10; // start bit, 8 data bits, stop bit

    SerialPortControl(EventPass& events, DeviceMap deviceForPort, QObject* parent = nullptr);
    ~SerialPortControl() override;

    bool setPortOpen(bool open) override;
    bool PortOpen() const override { return port.isOpen(); }
    void Output(const QByteArray& text) override;
    QByteArray Input() override;

    QString deviceName(int portNumber) const { return deviceForPort(portNumber); }
    QString describePort() const override;

    // True when `device` (or what a link to it leads to) is a terminal of this process: its
    // standard input, output or error, or its controlling terminal. Making that line raw
    // would take the operator's keyboard, Ctrl+C included.
    static bool isOwnTerminal(const QString& device);

private:
    void handleReadyRead();
    void handleError(QSerialPort::SerialPortError error);
    qint64 bytesWaitingToGo() const;
    void refuse(OpenFailure why, const QString& text, const QString& reason);

    EventPass& events;
    DeviceMap deviceForPort;
    QSerialPort port;
};
