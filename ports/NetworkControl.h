#pragma once

#include "LinePacer.h"
#include "NetworkPortAddress.h"
#include "SerialControl.h"
#include "TelnetCodec.h"

#include <QHostAddress>
#include <QList>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

class Clock;
class EventPass;

// The serial control over a TCP connection to a serial device server: COM port n is the
// `rfc2217://HOST:PORT` or `socket://HOST:PORT` that `addressForPort` names for it. The remote
// line's buffers cannot be seen from here, so Output is paced by a line clock instead.
class NetworkControl : public SerialControl {
    Q_OBJECT
public:
    using AddressMap = std::function<QString(int port)>;

    static constexpr int DefaultConnectLimitMs = 3000;
    // Sent bytes the server has not acknowledged for this long make the kernel reset the
    // connection, which ends the session as a lost line.
    static constexpr unsigned UnacknowledgedLimitMs = 10000;
    // Received bytes not yet taken by Input: beyond this, the oldest are dropped.
    static constexpr qsizetype MaxPendingBytes = 64 * 1024;
    // A connection the server ends before the module's first answer is due was not refused by
    // the module: the device may still be held through another accepter of the server, which
    // lets it go a moment after that client left. It is made again, for this long from the
    // first such close, before the line counts as lost.
    static constexpr int ReconnectForMs = 3000;
    static constexpr int ReconnectEveryMs = 100;
    // The module answers a probe within this time.
    static constexpr double FirstAnswerDueSeconds = 0.2;

    // `events` runs the waits (the connect, the pacing); `clock` times the line.
    NetworkControl(EventPass& events, const Clock& clock, AddressMap addressForPort,
                   QObject* parent = nullptr);
    ~NetworkControl() override;

    // How long an open waits for the connection, name look-up included.
    void setConnectLimitMs(int limitMs) { connectLimit = qMax(1, limitMs); }
    int connectLimitMs() const { return connectLimit; }
    // The addresses already found for `host` (by the check that told the ports apart): a
    // connection to that host tries them in turn instead of looking the name up again.
    void setKnownAddresses(const QString& host, const QList<QHostAddress>& addresses);

    bool setPortOpen(bool open) override;
    bool PortOpen() const override { return connected; }
    void Output(const QByteArray& text) override;
    QByteArray Input() override;
    QString describePort() const override;
    // The server closed or reset the connection, or stopped acknowledging what was sent.
    QString lineLossCause() const override {
        return lossCause.isEmpty() ? QStringLiteral("the connection was closed, reset or stopped answering")
                                   : lossCause;
    }
    // An RFC 2217 server that has not agreed to BINARY both ways (yet, or at all).
    QString refusesImageBytes() const override;

    QString address(int portNumber) const { return addressForPort(portNumber); }
    // For the port menu's tooltip and the port listing: host, port and kind, and for RFC 2217
    // which line settings the server acknowledged.
    QString portDetails() const;
    // The first part of portDetails, from an address alone: "RFC 2217 port on host H, TCP port P",
    // or why the address cannot be read.
    static QString addressDetails(const QString& text);
    // Runs the event loop until the server acknowledged every setting, refused COM-PORT-OPTION
    // or `limitMs` passed. True when all settings were acknowledged; raw ports have none.
    bool waitForAcknowledgements(int limitMs);
    // Received bytes waiting for Input.
    qsizetype pendingSize() const { return received.size(); }
    // The connection's socket while open, else -1.
    qintptr socketDescriptor() const { return connected ? socket.socketDescriptor() : -1; }

private:
    bool connectTo(const NetworkPortAddress& target);
    void beginConnection();
    void configureSocket();
    void handleReadyRead();
    void handleError(QAbstractSocket::SocketError error);
    void handleReconnected();
    void loseLine();
    bool closedBeforeFirstAnswer() const;
    void reconnectOrGiveUp();
    void endLine(const QString& cause);
    void stopReconnecting();
    void refuseTextMode();
    QString targetText() const;

    EventPass& events;
    const Clock& clock;
    AddressMap addressForPort;
    QTcpSocket socket;
    TelnetCodec codec;
    LinePacer pacer;
    NetworkPortAddress target; // of the open (or last opened) connection
    bool telnet = false;
    bool connected = false;
    bool opening = false;
    bool openAbandoned = false;
    bool settingsSent = false;
    bool reconnecting = false;   // open, the connection being made again after an early close
    bool binaryDataSent = false; // bytes a Telnet server in text mode could change went out
    bool refusalHandled = false;
    double firstOutputAt = -1; // on this connection; -1 before any
    double firstCloseAt = -1;  // the first early close since the open; -1 before any
    QByteArray serverSaid;     // the start of what this connection brought, for a close's reason
    QString earlyCloseCause;
    QTimer reconnectTimer;
    QHostAddress reached; // by the open, for connecting again
    int connectLimit = DefaultConnectLimitMs;
    QString knownHost;
    QList<QHostAddress> knownAddresses; // of knownHost
    QByteArray received;
    QString socketOptionFailure;
    QString lossCause; // why the last connection was ended from here; empty: the server ended it
};
