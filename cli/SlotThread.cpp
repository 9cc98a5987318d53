// A station slot on its own thread: its line, engine and cycle, its news sent to the main thread.
#include "SlotThread.h"

#include "AnyPortControl.h"
#include "ConsoleDisplay.h"
#include "QtEventPass.h"
#include "SilentTimer.h"
#include "SystemClock.h"

#include <QMutexLocker>

SlotThread::SlotThread(PortTarget target, FirmwareImage image, StationRules& rules, double goneAfter,
                       QObject* parent)
    : QThread(parent)
    , port(std::move(target))
    , image(std::move(image))
    , rules(rules)
    , goneAfter(goneAfter) {}

SlotThread::~SlotThread() {
    requestStop();
    wait();
}

// Handed to the slot's own thread, where it lands in the slot's next wait.
void SlotThread::forward(void (StationSlot::*call)()) {
    const QMutexLocker lock(&slotLock);
    if (slot)
        QMetaObject::invokeMethod(
            engine, [target = slot, call] { (target->*call)(); }, Qt::QueuedConnection);
}

void SlotThread::requestStop() {
    stopAsked = true;
    forward(&StationSlot::stop);
}

void SlotThread::requestWindDown() {
    windDownAsked = true;
    forward(&StationSlot::windDown);
}

void SlotThread::run() {
    SystemClock clock;
    QtEventPass events;
    SilentTimer timer;
    ConsoleDisplay display;
    UnattendedPrompts prompts;
    const std::unique_ptr<AnyPortControl> control = makePortControl(events, clock, port);
    UpdateEngine session({*control, clock, events, timer, display, prompts,
                          [](const QString&) { return QString(); }, QString()});
    // Seen to stand still before the station started: an update under way when the file changes
    // goes on with what it read.
    session.useSettledImage(image);
    // The module may be taken off once its settle pause is over; no success display to wait for.
    session.setSuccessDisplay(false);
    StationSlot cycle(session, *control, clock, rules, goneAfter, *this);
    {
        const QMutexLocker lock(&slotLock);
        slot = &cycle;
        engine = &session;
        // Asked before the slot existed: lands in its first wait.
        if (stopAsked)
            QMetaObject::invokeMethod(
                engine, [target = slot] { target->stop(); }, Qt::QueuedConnection);
        else if (windDownAsked)
            QMetaObject::invokeMethod(
                engine, [target = slot] { target->windDown(); }, Qt::QueuedConnection);
    }
    if (!stopAsked)
        cycle.run();
    const QMutexLocker lock(&slotLock);
    slot = nullptr;
    engine = nullptr;
}
