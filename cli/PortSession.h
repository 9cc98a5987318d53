#pragma once

#include "FirmwareImage.h"
#include "PortTargets.h"
#include "UpdateEngine.h"

#include <QMutex>
#include <QThread>
#include <atomic>

// One port's whole update on a thread of its own. The serial control, the event pass, the
// timer and the engine are made inside the thread, so their events and waits run there and a
// slow or silent module never holds another port back.
class PortSession : public QThread {
    Q_OBJECT
public:
    PortSession(PortTarget target, FirmwareImage image, double identifyLimit, QObject* parent = nullptr);
    ~PortSession() override;

    // Ends the session at its next wait; safe from any thread, also before it has started.
    void requestStop();

    const PortTarget& target() const { return port; }
    // How the session ended; read it once finished() has been emitted.
    const SessionReport& report() const { return result; }

signals:
    // A PortEventKind and its value, sent to the thread that made this object.
    void progress(int kind, int value);

protected:
    void run() override;

private:
    void runSession();
    void endWithoutSession(SessionOutcome outcome, const QString& message);

    const PortTarget port;
    const FirmwareImage image;
    const double identifyLimit;
    SessionReport result;
    std::atomic<bool> stopRequested{false};
    QMutex engineLock;
    UpdateEngine* engine = nullptr; // while the session runs; guarded by engineLock
};
