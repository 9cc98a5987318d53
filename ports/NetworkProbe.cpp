// Connecting to several network ports at once within one limit, for the start-up's scan and listings.
#include "NetworkProbe.h"

#include "ConnectFailure.h"
#include "EventPass.h"
#include "LineIdentity.h"
#include "NetworkPortAddress.h"

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

void NetworkProbe::start(const QStringList& addresses, int limitMs) {
    limit = qMax(1, limitMs);
    started = true;
    outcome.clear();
    attempts.clear();
    readable.clear();
    pending = 0;
    for (const QString& text : addresses) {
        outcome.append({text, false, QString()});
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
            attempts[size_t(i)]->socket.abort();
            settle(i, true, QString());
        });
        connect(&socket, &QTcpSocket::errorOccurred, this, [this, i] {
            Attempt& attempt = *attempts[size_t(i)];
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
        if (attempt.settled)
            continue;
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

QList<NetworkProbeResult> probeNetworkPorts(EventPass& events, const QStringList& addresses, int limitMs) {
    NetworkProbe probe;
    bool done = false;
    QObject::connect(&probe, &NetworkProbe::finished, &probe, [&done] { done = true; });
    probe.start(addresses, limitMs);
    QElapsedTimer waited;
    waited.start();
    // The probe's own timer settles every address at the limit; the margin only guards a stalled loop.
    while (!done && waited.elapsed() < qint64(limitMs) + 1000)
        events.runOnce(int(qMax<qint64>(1, limitMs + 1000 - waited.elapsed())));
    return probe.results();
}
