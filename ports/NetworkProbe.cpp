// Connecting to several network ports at once within one limit, for the start-up's scan and listings.
#include "NetworkProbe.h"

#include "ConnectFailure.h"
#include "EventPass.h"
#include "NetworkPortAddress.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

struct NetworkProbe::Attempt {
    NetworkPortAddress target;
    QTcpSocket socket;
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

void NetworkProbe::start(const QStringList& addresses, int limitMs) {
    limit = qMax(1, limitMs);
    started = true;
    outcome.clear();
    attempts.clear();
    pending = 0;
    for (const QString& text : addresses) {
        outcome.append({text, false, QString()});
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
            attempts[size_t(i)]->socket.abort();
            settle(i, true, QString());
        });
        connect(&attempt.socket, &QTcpSocket::errorOccurred, this, [this, i] {
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
        if (attempt.settled)
            continue;
        const ConnectFailure failure =
            describeConnectFailure(attempt.target, attempt.socket.state(), attempt.socket.error(),
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
