#pragma once

#include <QString>

// A port over the network, as the operator writes it wherever a device path is accepted:
// `rfc2217://HOST:PORT` (a Telnet COM-PORT-OPTION server that sets the line itself) or
// `socket://HOST:PORT` (raw TCP; the server's operator sets the line). HOST is a name, an IPv4
// address or an IPv6 address in brackets.
struct NetworkPortAddress {
    enum class Kind { Rfc2217, Raw };

    Kind kind = Kind::Raw;
    QString host; // without the brackets of an IPv6 address
    quint16 port = 0;

    // The address written back in its usual form, with control characters escaped.
    QString text() const;
    // "RFC 2217" or "raw TCP".
    QString kindName() const;
};

// Whether `text` is written as a network port ("scheme://..."), so that it is parsed as one
// and not taken for a device path. A known scheme is not required: a misspelt one must be told.
bool looksLikeNetworkPort(const QString& text);

// Reads `text` into `address`. On failure returns false and, when `reason` is given, says why in a
// sentence fit for the operator: an unknown scheme, a missing or bad port number (1 to 65535), a
// missing or malformed host.
bool parseNetworkPort(const QString& text, NetworkPortAddress* address, QString* reason = nullptr);

// `text` with every control character (C0, DEL, C1) written as \xNN, so that a host name or a
// server's reply cannot rewrite the terminal or the message it is shown in.
QString escapeControlCharacters(const QString& text);
