#pragma once

#include "NetworkPortAddress.h"
#include "SerialControl.h"

#include <QAbstractSocket>
#include <QByteArrayView>
#include <QString>

// Why a connection to a network port was not made, in the words an operator reads, the same
// for an open and for the start-up's probe.
struct ConnectFailure {
    SerialControl::OpenFailure kind = SerialControl::OpenFailure::None;
    QString text;   // naming the address: "rfc2217://h:4001 refused the connection (...)"
    QString reason; // for a message that names the port itself: "the connection was refused (...)"
};

// Names under .invalid never exist; resolvers are meant to say so without asking a server,
// so an operator's placeholder fails at once instead of after a network time-out.
bool isReservedInvalidHost(const QString& host);

// The failure of a connection to `target` given up after `limitMs` in `state` (still looking
// the name up, still connecting) or ended by `error`.
ConnectFailure describeConnectFailure(const NetworkPortAddress& target, QAbstractSocket::SocketState state,
                                      QAbstractSocket::SocketError error, const QString& errorString,
                                      int limitMs);

// The failure for a host under .invalid.
ConnectFailure unresolvableHost(const NetworkPortAddress& target);

// A server that ends a connection before any session could begin says why in its first line
// ("Port's device already in use"): "the server closed the connection: <that line>", cut at the
// first line end and at ServerWordsLimit characters, control characters escaped. `said` is what
// came outside Telnet commands.
constexpr int ServerWordsLimit = 200;
QString closedByServer(QByteArrayView said);
