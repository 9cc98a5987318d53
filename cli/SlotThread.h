#pragma once

#include "FirmwareImage.h"
#include "PortTargets.h"
#include "StationSlot.h"

#include <QMutex>
#include <QThread>
#include <atomic>

class StationRules;

// A station slot on a thread of its own, as a one-shot port runs: the line, the event pass, the
// timer and the engine are made inside the thread, so a slow or silent module holds no other
// slot back. What happens at the slot is sent, as signals, to the thread that made this object.
class SlotThread : public QThread, private SlotListener {
    Q_OBJECT
public:
    SlotThread(PortTarget target, FirmwareImage image, StationRules& rules, double goneAfter,
               QObject* parent = nullptr);
    ~SlotThread() override;

    // Safe from any thread, also before the slot has started.
    void requestStop();
    void requestWindDown();

    const PortTarget& target() const { return port; }

signals:
    void statusChanged(const SlotStatus& status);
    void updateEnded(const SessionReport& report);

protected:
    void run() override;

private:
    void slotChanged(const SlotStatus& status) override { emit statusChanged(status); }
    void updateFinished(const SessionReport& report) override { emit updateEnded(report); }
    void forward(void (StationSlot::*call)());

    const PortTarget port;
    const FirmwareImage image;
    StationRules& rules;
    const double goneAfter;
    std::atomic<bool> stopAsked{false};
    std::atomic<bool> windDownAsked{false};
    QMutex slotLock;
    StationSlot* slot = nullptr; // while it runs; guarded by slotLock
    UpdateEngine* engine = nullptr;
};
