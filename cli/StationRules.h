#pragma once

#include <QObject>
#include <QString>
#include <atomic>

// What every slot of a station obeys together: how many modules may still be updated, and
// whether a new update may start at all. Safe from any thread.
class StationRules : public QObject {
    Q_OBJECT
public:
    enum class Closed { No, CountReached, ImageChanged, Stopped };

    // `count`: modules to update in all (0: no limit).
    explicit StationRules(int count = 0, QObject* parent = nullptr)
        : QObject(parent)
        , limit(count) {}

    // A module was identified: true when it may be updated. The update that reaches --count
    // closes the station to further ones.
    bool claim();
    // No new update starts from now on; the first reason given is kept.
    void close(Closed why);
    Closed closed() const { return Closed(state.load()); }
    bool isClosed() const { return closed() != Closed::No; }

signals:
    // Emitted once, in the thread that closed the station.
    void closedNow();

private:
    const int limit;
    std::atomic<int> claimed{0};
    std::atomic<int> state{int(Closed::No)};
};
