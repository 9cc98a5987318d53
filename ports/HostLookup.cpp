// Looking up several host names at once within one limit, numbers read in place.
#include "HostLookup.h"

#include "EventPass.h"
#include "LineIdentity.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QTimer>

HostLookup::HostLookup(QObject* parent)
    : QObject(parent) {}

HostLookup::~HostLookup() {
    for (const int id : lookupIds)
        if (id >= 0)
            QHostInfo::abortHostLookup(id);
}

void HostLookup::start(const QStringList& hosts, int limitMs) {
    started = true;
    found = QList<QList<QHostAddress>>(hosts.size());
    lookupIds = QList<int>(hosts.size(), -1);
    pending = 0;
    for (int i = 0; i < hosts.size(); ++i) {
        found[i] = numericHostAddresses(hosts[i]);
        if (!found[i].isEmpty() || hosts[i].isEmpty())
            continue;
        ++pending;
        lookupIds[i] = QHostInfo::lookupHost(hosts[i], this, [this, i](const QHostInfo& info) {
            settle(i, info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>());
        });
    }
    if (pending == 0)
        QTimer::singleShot(0, this, &HostLookup::finished);
    else
        QTimer::singleShot(qMax(1, limitMs), this, &HostLookup::giveUp);
}

void HostLookup::settle(int index, const QList<QHostAddress>& addresses) {
    if (lookupIds[index] < 0)
        return;
    lookupIds[index] = -1;
    found[index] = addresses;
    if (--pending == 0)
        emit finished();
}

// A name still being looked up counts as not resolved; the connection that follows says so.
void HostLookup::giveUp() {
    for (int i = 0; i < lookupIds.size(); ++i)
        if (lookupIds[i] >= 0) {
            QHostInfo::abortHostLookup(lookupIds[i]);
            settle(i, QList<QHostAddress>());
        }
}

QList<QList<QHostAddress>> lookUpHosts(EventPass& events, const QStringList& hosts, int limitMs) {
    HostLookup lookup;
    bool done = false;
    QObject::connect(&lookup, &HostLookup::finished, &lookup, [&done] { done = true; });
    lookup.start(hosts, limitMs);
    QElapsedTimer waited;
    waited.start();
    // The look-up's own timer settles every host at the limit; the margin only guards a stalled loop.
    while (!done && waited.elapsed() < qint64(limitMs) + 1000)
        events.runOnce(int(qMax<qint64>(1, limitMs + 1000 - waited.elapsed())));
    return lookup.addresses();
}
