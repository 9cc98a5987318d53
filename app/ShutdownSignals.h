#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// SIGTERM and SIGHUP (a desktop logging out, a dropped remote session, `kill`) as events of
// the event loop: the signals stay blocked and are read from a signalfd, so no code runs in
// a signal handler, and a signal that comes during a wait is seen by that wait's event pass.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    // Blocks both signals in the calling thread and so in every thread it starts later. Call
    // it first in main(), before Qt starts threads of its own: a thread that still takes the
    // signals would let the default action end the process unrecorded.
    static void blockInThisThread();

    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;

    // Empty when the signals are watched; otherwise why not (they are unblocked again then,
    // and end the process as they did before).
    const QString& failure() const { return whyNot; }

    // "SIGTERM", "SIGHUP", or the number.
    static QString nameOf(int signalNumber);

signals:
    void received(int signalNumber);

private:
    void readPending();

    int descriptor = -1;
    QSocketNotifier* notifier = nullptr;
    QString whyNot;
};
