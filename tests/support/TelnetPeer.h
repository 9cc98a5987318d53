#pragma once

#include "TelnetCodec.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

// A Telnet server on the loopback that plays as much of a module as the identification needs:
// every probe is answered with the type code "AA". Of the options a client offers it agrees to
// what it is told: nothing (it stays in NVT text mode and ignores every offer, as RFC 854
// allows), only its own side of BINARY (WILL BINARY, never DO BINARY), or BINARY both ways.
class TelnetPeer : public QObject {
    Q_OBJECT
public:
    enum class Agrees { Nothing, OnlyWillBinary, BinaryBothWays };

    explicit TelnetPeer(Agrees agrees, QObject* parent = nullptr);

    quint16 port() const { return server.serverPort(); }
    QString address() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port()); }
    // What clients sent outside Telnet commands and sub-negotiations, in order.
    const QByteArray& data() const { return received; }
    int connections() const { return accepted; }

private:
    void take(QTcpSocket* client);

    Agrees agrees;
    QTcpServer server;
    QList<QPointer<QTcpSocket>> clients;
    TelnetCodec parser; // reads the client's commands; its own answers are not sent
    QByteArray raw;
    QByteArray received;
    int accepted = 0;
};
