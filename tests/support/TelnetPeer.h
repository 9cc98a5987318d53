#pragma once

#include "TelnetCodec.h"

#include <QTcpServer>
#include <QTcpSocket>

// A Telnet server on the loopback that answers every probe with the type code "AA" and, of the
// options a client offers, agrees to nothing (it stays in NVT text mode, as RFC 854 allows) or
// only to sending binary itself (WILL BINARY, never DO BINARY). It keeps what clients sent
// outside Telnet commands.
struct TelnetPeer {
    QTcpServer server;
    TelnetCodec parser; // reads the client's commands; its own answers are not sent
    QByteArray data;

    explicit TelnetPeer(bool willBinary) {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this, willBinary] {
            QTcpSocket* client = server.nextPendingConnection();
            if (willBinary)
                client->write(QByteArray::fromHex("fffb00"));
            QObject::connect(client, &QTcpSocket::readyRead, [this, client] {
                const QByteArray more = parser.decode(client->readAll()).data;
                data += more;
                if (more.contains('X'))
                    client->write("AA");
            });
        });
    }
    QString address() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.serverPort()); }
};
