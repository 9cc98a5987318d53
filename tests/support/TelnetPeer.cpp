// A Telnet server for the tests that agrees to some options or none and answers a module's probe.
#include "TelnetPeer.h"

#include "TelnetCodec.h"

namespace {
QByteArray command(quint8 verb, quint8 option) {
    QByteArray bytes;
    bytes += char(Telnet::IAC);
    bytes += char(verb);
    bytes += char(option);
    return bytes;
}
} // namespace

TelnetPeer::TelnetPeer(Agrees agrees, QObject* parent)
    : QObject(parent)
    , agrees(agrees) {
    server.listen(QHostAddress::LocalHost, 0);
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* client = server.nextPendingConnection()) {
            ++accepted;
            clients << client;
            connect(client, &QTcpSocket::readyRead, this, [this, client] { take(client); });
        }
    });
}

void TelnetPeer::take(QTcpSocket* client) {
    const QByteArray bytes = client->readAll();
    const QByteArray data = parser.decode(bytes).data;
    received += data;
    const auto newlyOffered = [&](quint8 verb) {
        const QByteArray offer = command(verb, Telnet::OptionBinary);
        const bool before = raw.contains(offer);
        return !before && (raw + bytes).contains(offer);
    };
    const bool askedDo = newlyOffered(Telnet::DO);
    const bool askedWill = newlyOffered(Telnet::WILL);
    raw += bytes;
    if (agrees != Agrees::Nothing && askedDo)
        client->write(command(Telnet::WILL, Telnet::OptionBinary));
    if (agrees == Agrees::BinaryBothWays && askedWill)
        client->write(command(Telnet::DO, Telnet::OptionBinary));
    if (data.contains('X'))
        client->write("AA");
}
