// Connecting to several network ports at once within one limit, for the start-up's scan and listings.
#include "NetworkProbe.h"

#include "ConnectFailure.h"
#include "EventPass.h"
#include "LineIdentity.h"
#include "NetworkPortAddress.h"
#include "TelnetCodec.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

struct NetworkProbe::Attempt {
    NetworkPortAddress target;
    QTcpSocket socket;
    QList<QHostAddress> addresses; // to try in turn; none: the name as written
    int next = 0;
    QList<int> followers; // the addresses on the same line, settled with this one
    TelnetCodec codec;
    QByteArray said; // the start of what the server sent outside Telnet commands
    bool connected = false;
    bool settled = false;
};

NetworkProbe::NetworkProbe(QObject* parent)
    : QObject(parent) {
    connect(&lookup, &HostLookup::finished, this, &NetworkProbe::connectLines);
}

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
    readable.clear();
    pending = 0;
    for (const QString& text : addresses) {
        outcome.append({text, false, QString(), -1, QString()});
        attempts.push_back(std::make_unique<Attempt>());
    }
    pending = int(addresses.size());
    QStringList hosts;
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
        readable << i;
        hosts << attempt.target.host;
    }
    if (pending == 0) {
        QTimer::singleShot(0, this, &NetworkProbe::finished);
        return;
    }
    // The look-ups come out of the same limit as the connections.
    lookup.start(hosts, limit);
    QTimer::singleShot(limit, this, &NetworkProbe::giveUp);
}

// Every line is tried once: an address on a line already being tried waits for that result.
void NetworkProbe::connectLines() {
    QList<LineEndpoint> endpoints;
    for (int k = 0; k < readable.size(); ++k) {
        Attempt& attempt = *attempts[size_t(readable[k])];
        attempt.addresses = lookup.addresses().value(k);
        endpoints << lineEndpoint(attempt.target, attempt.addresses);
    }
    const QList<int> first = firstOnSameLine(endpoints);
    for (int k = 0; k < readable.size(); ++k) {
        const int i = readable[k];
        if (attempts[size_t(i)]->settled)
            continue; // given up while its name was being looked up
        if (first[k] >= 0) {
            outcome[i].sameLineAs = readable[first[k]];
            attempts[size_t(readable[first[k]])]->followers << i;
            continue;
        }
        QTcpSocket& socket = attempts[size_t(i)]->socket;
        connect(&socket, &QTcpSocket::connected, this, [this, i] {
            if (holdFor > 0)
                return hold(i);
            attempts[size_t(i)]->socket.abort();
            settle(i, true, QString());
        });
        connect(&socket, &QTcpSocket::errorOccurred, this, [this, i] {
            Attempt& attempt = *attempts[size_t(i)];
            if (attempt.connected)
                return endHold(i, true);
            if (attempt.next < attempt.addresses.size()) {
                // Not from inside the socket's own signal: it may not be ready for a new connection yet.
                QTimer::singleShot(0, this, [this, i] { connectNext(i); });
                return;
            }
            const ConnectFailure failure =
                describeConnectFailure(attempt.target, QAbstractSocket::UnconnectedState,
                                       attempt.socket.error(), attempt.socket.errorString(), limit);
            attempt.socket.abort();
            settle(i, false, failure.text);
        });
        // Only the address as written is tried, never a proxy from the environment.
        socket.setProxy(QNetworkProxy::NoProxy);
        connectNext(i);
    }
}

// The next of the addresses found, or the name itself when none was (it fails as it would alone).
void NetworkProbe::connectNext(int index) {
    Attempt& attempt = *attempts[size_t(index)];
    if (attempt.settled)
        return;
    attempt.socket.abort();
    if (attempt.addresses.isEmpty())
        attempt.socket.connectToHost(attempt.target.host, attempt.target.port);
    else
        attempt.socket.connectToHost(attempt.addresses[attempt.next++], attempt.target.port);
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
    for (const int i : QList<int>{index} + attempt.followers)
        outcome[i].details = details;
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
    if (attempts[size_t(index)]->settled)
        return;
    for (const int i : QList<int>{index} + attempts[size_t(index)]->followers) {
        Attempt& attempt = *attempts[size_t(i)];
        if (attempt.settled)
            continue;
        attempt.settled = true;
        outcome[i].connected = connected;
        outcome[i].reason = reason;
        --pending;
    }
    if (pending == 0)
        QTimer::singleShot(0, this, &NetworkProbe::finished);
}

void NetworkProbe::giveUp() {
    for (int i = 0; i < int(attempts.size()); ++i) {
        Attempt& attempt = *attempts[size_t(i)];
        if (attempt.settled || attempt.connected)
            continue; // a held connection ends with its hold
        // A name still being looked up at the limit was never tried.
        const QAbstractSocket::SocketState state =
            lookup.isFinished() ? attempt.socket.state() : QAbstractSocket::HostLookupState;
        const ConnectFailure failure = describeConnectFailure(attempt.target, state, attempt.socket.error(),
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
