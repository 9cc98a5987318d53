// Telling network ports apart by the line they reach: hosts read as numbers, names folded, addresses
// compared.
#include "LineIdentity.h"

#include <arpa/inet.h>
#include <net/if.h>

namespace {

bool isAscii(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() > 0x7f)
            return false;
    return true;
}

// Equal when they are one address: QHostAddress's own comparison leaves the zone out, and
// fe80::1 on two interfaces is two hosts.
bool sameAddress(const QHostAddress& a, const QHostAddress& b) {
    return a.isEqual(b, QHostAddress::StrictConversion) && a.scopeId() == b.scopeId();
}

} // namespace

QHostAddress normalisedAddress(const QHostAddress& address) {
    // A connection to the unspecified address goes to this host's loopback: 0.0.0.0 is 127.0.0.1.
    if (address == QHostAddress(QHostAddress::AnyIPv4))
        return QHostAddress(QHostAddress::LocalHost);
    if (address == QHostAddress(QHostAddress::AnyIPv6))
        return QHostAddress(QHostAddress::LocalHostIPv6);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    bool mapped = bytes[10] == 0xff && bytes[11] == 0xff;
    for (int i = 0; i < 10; ++i)
        mapped = mapped && bytes[i] == 0;
    if (mapped)
        return normalisedAddress(QHostAddress(quint32(bytes[12]) << 24 | quint32(bytes[13]) << 16 |
                                              quint32(bytes[14]) << 8 | quint32(bytes[15])));
    QHostAddress result = address;
    const QString zone = address.scopeId();
    bool numeric = false;
    zone.toUInt(&numeric);
    if (!zone.isEmpty() && !numeric) {
        const unsigned index = ::if_nametoindex(zone.toLocal8Bit().constData());
        if (index != 0)
            result.setScopeId(QString::number(index));
    }
    return result;
}

QList<QHostAddress> numericHostAddresses(const QString& host) {
    if (host.isEmpty() || !isAscii(host))
        return {};
    if (host.contains(u':')) {
        const QHostAddress address(host);
        if (address.protocol() != QAbstractSocket::IPv6Protocol)
            return {};
        return {normalisedAddress(address)};
    }
    // What inet_aton takes (one to four parts, each decimal, octal or hex) is what the
    // resolver and the connection take too; a name that it reads as a number is one.
    in_addr parsed{};
    if (::inet_aton(host.toLatin1().constData(), &parsed) == 0)
        return {};
    return {normalisedAddress(QHostAddress(ntohl(parsed.s_addr)))};
}

LineEndpoint lineEndpoint(const NetworkPortAddress& target, const QList<QHostAddress>& resolved) {
    LineEndpoint endpoint;
    endpoint.port = target.port;
    endpoint.hostName = target.host.toCaseFolded();
    if (endpoint.hostName.endsWith(u'.'))
        endpoint.hostName.chop(1);
    endpoint.addresses = numericHostAddresses(target.host);
    if (endpoint.addresses.isEmpty())
        for (const QHostAddress& address : resolved)
            endpoint.addresses << normalisedAddress(address);
    return endpoint;
}

QString sharedHostText(const LineEndpoint& a, const LineEndpoint& b) {
    for (const QHostAddress& mine : a.addresses)
        for (const QHostAddress& theirs : b.addresses)
            if (sameAddress(mine, theirs))
                return mine.toString();
    return a.hostName == b.hostName ? a.hostName : QString();
}

bool sameLine(const LineEndpoint& a, const LineEndpoint& b) {
    return a.port == b.port && !sharedHostText(a, b).isEmpty();
}

QList<int> firstOnSameLine(const QList<LineEndpoint>& endpoints) {
    QList<int> first;
    for (qsizetype i = 0; i < endpoints.size(); ++i) {
        int found = -1;
        for (qsizetype j = 0; j < i && found < 0; ++j)
            if (sameLine(endpoints[j], endpoints[i]))
                found = int(j);
        first << found;
    }
    return first;
}
