// Network port names: telling them from device paths, reading them with reasons, showing them safely.
#include "NetworkPortAddress.h"

#include <QCoreApplication>
#include <QHostAddress>

namespace {

constexpr QLatin1String rfc2217Scheme("rfc2217");
constexpr QLatin1String rawScheme("socket");
constexpr QLatin1String separator("://");

QString tr(const char* text) {
    return QCoreApplication::translate("NetworkPortAddress", text);
}

QString forms() {
    return tr("write rfc2217://HOST:PORT or socket://HOST:PORT");
}

bool isSchemeCharacter(QChar c, bool first) {
    const char16_t u = c.unicode();
    const bool letter = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
    if (first)
        return letter;
    return letter || (u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.';
}

// A host name as the resolver takes it: letters and digits (international names included),
// dots, hyphens and underscores. Anything else (spaces, slashes, '@', control characters) is a
// typing error better told now than as a failed look-up.
bool isHostName(const QString& host) {
    if (host.isEmpty() || host.size() > 253)
        return false;
    for (const QChar c : host) {
        if (!(c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_'))
            return false;
    }
    return true;
}

bool fail(QString* reason, const QString& why) {
    if (reason)
        *reason = why;
    return false;
}

} // namespace

QString escapeControlCharacters(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if (u == '\\')
            out += QStringLiteral("\\\\");
        else
            out += c;
    }
    return out;
}

QString NetworkPortAddress::text() const {
    const QString scheme = kind == Kind::Rfc2217 ? QString(rfc2217Scheme) : QString(rawScheme);
    const QString shownHost = host.contains(u':') ? QStringLiteral("[%1]").arg(host) : host;
    return escapeControlCharacters(QStringLiteral("%1://%2:%3").arg(scheme, shownHost).arg(port));
}

QString NetworkPortAddress::kindName() const {
    return kind == Kind::Rfc2217 ? tr("RFC 2217") : tr("raw TCP");
}

bool looksLikeNetworkPort(const QString& text) {
    const qsizetype end = text.indexOf(separator);
    if (end <= 0)
        return false;
    for (qsizetype i = 0; i < end; ++i) {
        if (!isSchemeCharacter(text[i], i == 0))
            return false;
    }
    return true;
}

bool parseNetworkPort(const QString& text, NetworkPortAddress* address, QString* reason) {
    const QString shown = escapeControlCharacters(text);
    if (!looksLikeNetworkPort(text))
        return fail(reason, tr("\"%1\" is not a network port (%2)").arg(shown, forms()));

    const qsizetype end = text.indexOf(separator);
    const QString scheme = text.left(end).toLower();
    NetworkPortAddress result;
    if (scheme == rfc2217Scheme)
        result.kind = NetworkPortAddress::Kind::Rfc2217;
    else if (scheme == rawScheme)
        result.kind = NetworkPortAddress::Kind::Raw;
    else
        return fail(reason, tr("unknown scheme \"%1\" in \"%2\" (%3)")
                                .arg(escapeControlCharacters(text.left(end)), shown, forms()));

    QString rest = text.mid(end + separator.size());
    if (rest.endsWith(u'/'))
        rest.chop(1);
    QString afterHost;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return fail(reason, tr("the bracket around the IPv6 address in \"%1\" is not closed").arg(shown));
        result.host = rest.mid(1, close - 1);
        if (QHostAddress(result.host).protocol() != QAbstractSocket::IPv6Protocol)
            return fail(reason, tr("\"%1\" in \"%2\" is not an IPv6 address")
                                    .arg(escapeControlCharacters(result.host), shown));
        afterHost = rest.mid(close + 1);
    } else {
        if (rest.count(u':') > 1)
            return fail(reason, tr("an IPv6 address is written in brackets, as in rfc2217://[::1]:4001 "
                                   "(\"%1\")")
                                    .arg(shown));
        const qsizetype colon = rest.indexOf(u':');
        result.host = colon < 0 ? rest : rest.left(colon);
        afterHost = colon < 0 ? QString() : rest.mid(colon);
        if (result.host.isEmpty())
            return fail(reason, tr("no host in \"%1\" (%2)").arg(shown, forms()));
        if (!isHostName(result.host))
            return fail(reason, tr("\"%1\" in \"%2\" is not a host name or address")
                                    .arg(escapeControlCharacters(result.host), shown));
    }

    if (afterHost.isEmpty() || afterHost == QLatin1String(":"))
        return fail(reason, tr("no port number in \"%1\" (%2; PORT from 1 to 65535)").arg(shown, forms()));
    if (!afterHost.startsWith(u':'))
        return fail(reason, tr("unexpected \"%1\" after the host in \"%2\" (%3)")
                                .arg(escapeControlCharacters(afterHost), shown, forms()));
    const QString portText = afterHost.mid(1);
    bool digitsOnly = portText.size() <= 5;
    for (const QChar c : portText)
        digitsOnly = digitsOnly && c >= u'0' && c <= u'9';
    const uint port = digitsOnly ? portText.toUInt() : 0;
    if (port < 1 || port > 65535)
        return fail(reason, tr("bad port number \"%1\" in \"%2\" (from 1 to 65535)")
                                .arg(escapeControlCharacters(portText), shown));
    result.port = quint16(port);
    if (address)
        *address = result;
    return true;
}
