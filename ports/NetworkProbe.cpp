// Connecting to several network ports at once within one limit, for the start-up's scan and listings.
#include "NetworkProbe.h"

#include "ConnectFailure.h"
#include "EventPass.h"
#include "NetworkPortAddress.h"
#include "TelnetCodec.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

struct NetworkProbe::Attempt {
    NetworkPortAddress target;
    QTcpSocket socket;
    TelnetCodec codec;
    QByteArray said; // the start of what the server sent outside Telnet commands
    bool connected = false;
    bool settled = false;
};

NetworkProbe::NetworkProbe(QObject* parent)
    : QObject(parent) {}

NetworkProbe::~NetworkProbe() {
    for (const auto& attempt : attempts) {
        attempt->socket.disconnect(this);
        attempt->socket.abort();
    }
}

void NetworkProbe::start(const QStringList& addresses, int limitMs, int holdMs) {
    limit = qMax(1, limitMs);
    holdFor = qMax(0, holdMs);
    started = true;
    outcome.clear();
    attempts.clear();
    pending = 0;
    for (const QString& text : addresses) {
        outcome.append({text, false, QString(), QString()});
        attempts.push_back(std::make_unique<Attempt>());
    }
    pending = int(addresses.size());
    for (int i = 0; i < addresses.size(); ++i) {
        Attempt& attempt = *attempts[size_t(i)];
        QString why;
        if (!parseNetworkPort(addresses[i], &attempt.target, &why)) {
            settle(i, false, why);
            continue;
        }
        if (isReservedInvalidHost(attempt.target.host)) {
            settle(i, false, unresolvableHost(attempt.target).text);
            continue;
        }
        connect(&attempt.socket, &QTcpSocket::connected, this, [this, i] {
            if (holdFor > 0)
                return hold(i);
            attempts[size_t(i)]->socket.abort();
            settle(i, true, QString());
        });
        connect(&attempt.socket, &QTcpSocket::errorOccurred, this, [this, i] {
            if (attempts[size_t(i)]->connected)
                return endHold(i, true);
            QTcpSocket& socket = attempts[size_t(i)]->socket;
            const ConnectFailure failure =
                describeConnectFailure(attempts[size_t(i)]->target, QAbstractSocket::UnconnectedState,
                                       socket.error(), socket.errorString(), limit);
            socket.abort();
            settle(i, false, failure.text);
        });
        // Only the address as written is tried, never a proxy from the environment.
        attempt.socket.setProxy(QNetworkProxy::NoProxy);
        attempt.socket.connectToHost(attempt.target.host, attempt.target.port);
    }
    if (pending == 0)
        QTimer::singleShot(0, this, &NetworkProbe::finished);
    else
        QTimer::singleShot(limit, this, &NetworkProbe::giveUp);
}

// The connection stands: it is kept for the hold, an RFC 2217 one negotiating as an open would.
void NetworkProbe::hold(int index) {
    Attempt& attempt = *attempts[size_t(index)];
    attempt.connected = true;
    connect(&attempt.socket, &QTcpSocket::readyRead, this, [this, index] { readHeld(index); });
    connect(&attempt.socket, &QTcpSocket::disconnected, this, [this, index] { endHold(index, true); });
    if (attempt.target.kind == NetworkPortAddress::Kind::Rfc2217)
        attempt.socket.write(attempt.codec.start());
    QTimer::singleShot(holdFor, this, [this, index] { endHold(index, false); });
}

void NetworkProbe::readHeld(int index) {
    Attempt& held = *attempts[size_t(index)];
    const QByteArray bytes = held.socket.readAll();
    QByteArray data = bytes;
    if (held.target.kind == NetworkPortAddress::Kind::Rfc2217) {
        TelnetCodec::Decoded decoded = held.codec.decode(bytes);
        if (!decoded.reply.isEmpty())
            held.socket.write(decoded.reply);
        data = decoded.data;
    }
    if (held.said.size() <= ServerWordsLimit)
        held.said += data.left(ServerWordsLimit + 1 - held.said.size());
}

void NetworkProbe::endHold(int index, bool closed) {
    Attempt& attempt = *attempts[size_t(index)];
    if (attempt.settled)
        return;
    // Bytes that came with the close are the server's last words.
    if (attempt.socket.bytesAvailable() > 0)
        readHeld(index);
    const bool telnet = attempt.target.kind == NetworkPortAddress::Kind::Rfc2217;
    const bool binary = telnet && attempt.codec.binaryAgreed();
    QString details;
    if (telnet) {
        const QString acks = attempt.codec.acknowledgementText();
        if (!acks.isEmpty())
            details += QStringLiteral("; ") + acks;
        details += binary ? tr("; binary transmission agreed") : tr("; binary transmission not agreed");
    }
    outcome[index].details = details;
    attempt.socket.disconnect(this);
    attempt.socket.abort();
    if (closed)
        settle(index, false,
               QStringLiteral("%1: %2").arg(attempt.target.text(), closedByServer(attempt.said)));
    else if (telnet && !binary)
        settle(index, false,
               tr("%1: the server did not agree to binary transmission").arg(attempt.target.text()));
    else
        settle(index, true, QString());
}

void NetworkProbe::settle(int index, bool connected, const QString& reason) {
    Attempt& attempt = *attempts[size_t(index)];
    if (attempt.settled)
        return;
    attempt.settled = true;
    outcome[index].connected = connected;
    outcome[index].reason = reason;
    if (--pending == 0)
        QTimer::singleShot(0, this, &NetworkProbe::finished);
}

void NetworkProbe::giveUp() {
    for (int i = 0; i < int(attempts.size()); ++i) {
        Attempt& attempt = *attempts[size_t(i)];
        if (attempt.settled || attempt.connected)
            continue; // a held connection ends with its hold
        const ConnectFailure failure =
            describeConnectFailure(attempt.target, attempt.socket.state(), attempt.socket.error(),
                                   attempt.socket.errorString(), limit);
        attempt.socket.disconnect(this);
        attempt.socket.abort();
        settle(i, false, failure.text);
    }
}

QList<NetworkProbeResult> probeNetworkPorts(EventPass& events, const QStringList& addresses, int limitMs,
                                            int holdMs) {
    NetworkProbe probe;
    bool done = false;
    QObject::connect(&probe, &NetworkProbe::finished, &probe, [&done] { done = true; });
    probe.start(addresses, limitMs, holdMs);
    QElapsedTimer waited;
    waited.start();
    // The probe's own timers settle every address by the limit and the hold; the margin only
    // guards a stalled loop.
    const qint64 most = qint64(limitMs) + qMax(0, holdMs) + 1000;
    while (!done && waited.elapsed() < most)
        events.runOnce(int(qMax<qint64>(1, most - waited.elapsed())));
    return probe.results();
}
