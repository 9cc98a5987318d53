#pragma once

#include "HostLookup.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

class EventPass;
class QTcpSocket;

// Whether one network address took a connection.
struct NetworkProbeResult {
    QString address; // as written
    bool connected = false;
    QString reason;      // why not, in the words of an open's failure; empty when connected
    int sameLineAs = -1; // the index of the first address before it that reaches the same line
};

// Tries several network addresses at once, each connection closed again as soon as it is made,
// all within one limit, name look-ups included: with every host silent the whole probe takes the
// limit, not the sum. Addresses that reach one line (see LineIdentity) are tried with one
// connection, and share its result: a server that takes one client at a time is not told busy
// by the probe itself. Nothing blocks: the caller's event loop runs the connections.
class NetworkProbe : public QObject {
    Q_OBJECT
public:
    explicit NetworkProbe(QObject* parent = nullptr);
    ~NetworkProbe() override;

    // Starts the connections; an address that cannot be read (or names a host under .invalid)
    // fails at once. finished() follows, from the event loop, also when there is nothing to try.
    void start(const QStringList& addresses, int limitMs);
    bool isFinished() const { return pending == 0 && started; }
    // One per address, in the order given.
    const QList<NetworkProbeResult>& results() const { return outcome; }

signals:
    void finished();

private:
    void connectLines();
    void connectNext(int index);
    void settle(int index, bool connected, const QString& reason);
    void giveUp();

    struct Attempt;
    std::vector<std::unique_ptr<Attempt>> attempts;
    HostLookup lookup;
    QList<int> readable; // the indexes of the addresses that could be read, in order
    QList<NetworkProbeResult> outcome;
    int pending = 0;
    int limit = 0;
    bool started = false;
};

// Runs a probe on `events` until every address is settled: at most `limitMs` and a little.
QList<NetworkProbeResult> probeNetworkPorts(EventPass& events, const QStringList& addresses, int limitMs);
