#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QStringList>

class EventPass;

// Looks up several host names at once, all within one limit: a slow resolver costs the limit
// once, not once a name. A host written as a number is read without asking anyone. Nothing
// blocks: the caller's event loop runs the look-ups.
class HostLookup : public QObject {
    Q_OBJECT
public:
    explicit HostLookup(QObject* parent = nullptr);
    ~HostLookup() override;

    // An empty host is left out. finished() follows, also when nothing needs looking up.
    void start(const QStringList& hosts, int limitMs);
    bool isFinished() const { return started && pending == 0; }
    // One list per host, in the order given; empty for a name that did not resolve in time.
    const QList<QList<QHostAddress>>& addresses() const { return found; }

signals:
    void finished();

private:
    void settle(int index, const QList<QHostAddress>& addresses);
    void giveUp();

    QList<QList<QHostAddress>> found;
    QList<int> lookupIds; // -1 once settled
    int pending = 0;
    bool started = false;
};

// Runs a look-up on `events` until every host is settled: at most `limitMs` and a little.
QList<QList<QHostAddress>> lookUpHosts(EventPass& events, const QStringList& hosts, int limitMs);
