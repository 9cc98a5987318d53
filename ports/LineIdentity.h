#pragma once

#include "NetworkPortAddress.h"

#include <QHostAddress>
#include <QList>
#include <QString>

// Where a network port leads, as far as telling two ports apart needs: the TCP port and the
// host, by its addresses where they are known and by its name otherwise. The scheme plays no
// part: one server port is one line, whether spoken to with Telnet or raw.
struct LineEndpoint {
    quint16 port = 0;
    QString hostName;              // the host as written, folded: no letter case, no trailing dot
    QList<QHostAddress> addresses; // parsed or looked up, normalised; empty for a name not resolved
};

// The address a host written as a number stands for, normalised; none for a name. IPv4 is read
// as the resolver reads it, so `127.1`, `0x7f.1` and `0177.0.0.1` are 127.0.0.1; IPv6 in any of
// its spellings, with a zone given by interface name or index.
QList<QHostAddress> numericHostAddresses(const QString& host);

// One form for each address: an IPv4-mapped IPv6 address as the IPv4 address it carries, a zone
// by its interface index (a name of no interface stays a name), the unspecified address (0.0.0.0,
// ::) as the loopback address a connection to it reaches.
QHostAddress normalisedAddress(const QHostAddress& address);

// The endpoint of `target` with the host's addresses (numeric ones need none given).
LineEndpoint lineEndpoint(const NetworkPortAddress& target,
                          const QList<QHostAddress>& resolved = QList<QHostAddress>());

// Whether two endpoints reach one line: the same TCP port, and the same name or addresses that
// meet. A host name that did not resolve matches only its own name.
bool sameLine(const LineEndpoint& a, const LineEndpoint& b);

// What two endpoints on one line share, for a message: an address they both reach, or the name.
QString sharedHostText(const LineEndpoint& a, const LineEndpoint& b);

// For each endpoint, the index of the first one before it on the same line, or -1.
QList<int> firstOnSameLine(const QList<LineEndpoint>& endpoints);
