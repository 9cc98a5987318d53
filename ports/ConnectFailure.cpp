// The reasons a connection to a network port was not made, shared by the open and the probe.
#include "ConnectFailure.h"

#include <QCoreApplication>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("NetworkControl", text);
}

QString seconds(int ms) {
    return QString::number(double(ms) / 1000.0);
}

} // namespace

bool isReservedInvalidHost(const QString& host) {
    QString name = host.toLower();
    if (name.endsWith(u'.'))
        name.chop(1);
    return name == QLatin1String("invalid") || name.endsWith(QLatin1String(".invalid"));
}

ConnectFailure unresolvableHost(const NetworkPortAddress& target) {
    const QString reason = tr("the host name %1 does not resolve").arg(escapeControlCharacters(target.host));
    return {SerialControl::OpenFailure::Absent, QStringLiteral("%1: %2").arg(target.text(), reason), reason};
}

ConnectFailure describeConnectFailure(const NetworkPortAddress& target, QAbstractSocket::SocketState state,
                                      QAbstractSocket::SocketError error, const QString& errorString,
                                      int limitMs) {
    using Failure = SerialControl::OpenFailure;
    const QString where = target.text();
    const QString host = escapeControlCharacters(target.host);
    if (state == QAbstractSocket::HostLookupState) {
        const QString reason = tr("the host name %1 did not resolve within %2 s").arg(host, seconds(limitMs));
        return {Failure::Absent, QStringLiteral("%1: %2").arg(where, reason), reason};
    }
    if (state == QAbstractSocket::ConnectingState)
        return {Failure::Absent, tr("%1 did not answer within %2 s").arg(where, seconds(limitMs)),
                tr("no connection within %1 s (the host did not answer)").arg(seconds(limitMs))};
    if (error == QAbstractSocket::HostNotFoundError)
        return unresolvableHost(target);
    if (error == QAbstractSocket::ConnectionRefusedError)
        return {
            Failure::Absent,
            tr("%1 refused the connection (nothing listens on port %2 of %3)")
                .arg(where)
                .arg(target.port)
                .arg(host),
            tr("the connection was refused (nothing listens on port %1 of %2)").arg(target.port).arg(host)};
    const QString why = escapeControlCharacters(errorString);
    return {Failure::Other, tr("%1 cannot be reached: %2").arg(where, why),
            tr("it cannot be reached: %1").arg(why)};
}

QString closedByServer(QByteArrayView said) {
    qsizetype end = 0;
    while (end < said.size() && said[end] != '\r' && said[end] != '\n')
        ++end;
    const QString words = escapeControlCharacters(
        QString::fromLatin1(said.first(end).first(qMin<qsizetype>(end, ServerWordsLimit))));
    const QString closed = tr("the server closed the connection");
    return words.isEmpty() ? closed : QStringLiteral("%1: %2").arg(closed, words);
}
