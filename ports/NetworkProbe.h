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
    // With a hold: for RFC 2217, which line settings the server acknowledged and whether it
    // agreed to binary transmission ("; the server acknowledged ...; binary transmission agreed").
    QString details;
};

// Tries several network addresses at once, all within one limit, name look-ups included: with
// every host silent the whole probe takes the limit, not the sum. Without a hold each connection
// is closed again as soon as it is made; with one, each is kept that long after it was made (an
// RFC 2217 one negotiates and sets the line meanwhile) and counts only when it is still open then,
// so the whole takes at most the limit plus the hold. Addresses that reach one line (see LineIdentity) are
// tried with one connection, and share its result: a server that takes one client at a time is not told busy
// by the probe itself. Nothing blocks: the caller's event loop runs the connections.
class NetworkProbe : public QObject {
    Q_OBJECT
public:
    explicit NetworkProbe(QObject* parent = nullptr);
    ~NetworkProbe() override;

    // Starts the connections; an address that cannot be read (or names a host under .invalid)
    // fails at once. finished() follows, from the event loop, also when there is nothing to try.
    void start(const QStringList& addresses, int limitMs, int holdMs = 0);
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
    void hold(int index);
    void readHeld(int index);
    void endHold(int index, bool closed);

    struct Attempt;
    std::vector<std::unique_ptr<Attempt>> attempts;
    HostLookup lookup;
    QList<int> readable; // the indexes of the addresses that could be read, in order
    QList<NetworkProbeResult> outcome;
    int pending = 0;
    int limit = 0;
    int holdFor = 0;
    bool started = false;
};

// Runs a probe on `events` until every address is settled: at most `limitMs` + `holdMs` and a little.
QList<NetworkProbeResult> probeNetworkPorts(EventPass& events, const QStringList& addresses, int limitMs,
                                            int holdMs = 0);
