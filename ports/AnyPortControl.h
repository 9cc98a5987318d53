#pragma once

#include "NetworkControl.h"
#include "SerialControl.h"
#include "SerialPortControl.h"

#include <functional>
#include <memory>

class Clock;
class EventPass;

// The one serial control a front end holds: COM port n is whatever the port map names for it,
// a local device or a network address (`rfc2217://HOST:PORT`, `socket://HOST:PORT`), and the
// front end switches among them with setCommPort and setPortOpen as among local ports. Each
// open picks the control for what the number names then, hands it this control's settings and
// forwards its events, failures and lost line as its own.
class AnyPortControl : public SerialControl {
    Q_OBJECT
public:
    using PortMap = std::function<QString(int port)>;

    AnyPortControl(EventPass& events, const Clock& clock, PortMap portFor, QObject* parent = nullptr);
    ~AnyPortControl() override;

    bool setPortOpen(bool open) override;
    bool PortOpen() const override;
    void Output(const QByteArray& text) override;
    QByteArray Input() override;
    QString describePort() const override;
    QString lineLossCause() const override;
    QString refusesImageBytes() const override;

    // What COM port `port` stands for: a device path or a network address, as written.
    QString portName(int port) const { return portFor(port); }
    // Whether COM port `port` names a network address.
    bool isNetworkPort(int port) const;
    // For a tooltip or a listing: for a network port its kind, host and TCP port (and, once
    // opened, which line settings the server acknowledged); for a local one its device.
    QString portDetails(int port) const;
    // How long opening a network port waits for its connection (3 s unless set).
    void setConnectLimitMs(int limitMs) { network->setConnectLimitMs(limitMs); }
    int connectLimitMs() const { return network->connectLimitMs(); }

    // The inner controls, for what only one of them knows (a network port's socket, say).
    NetworkControl& networkControl() const { return *network; }
    SerialPortControl& localControl() const { return *local; }

private:
    void handOver(SerialControl& inner) const;
    void forwardComm(const SerialControl* from);
    void forwardLineLost(const SerialControl* from);

    PortMap portFor;
    std::unique_ptr<SerialPortControl> local;
    std::unique_ptr<NetworkControl> network;
    SerialControl* active = nullptr; // the control of the open (or last opened) port
};

// The serial control of the window and of the command line, over the port map `portFor`.
std::unique_ptr<AnyPortControl> makeAnyPortControl(EventPass& events, const Clock& clock,
                                                   AnyPortControl::PortMap portFor,
                                                   QObject* parent = nullptr);
