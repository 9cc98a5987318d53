// One pass of Qt's event loop that sleeps until an event or the caller's deadline; the 100 ms timer.
#include "QtEventPass.h"

#include <QCoreApplication>

QtEventPass::QtEventPass() {
    wakeUp.setSingleShot(true);
    wakeUp.setTimerType(Qt::PreciseTimer);
}

void QtEventPass::runOnce(int maxSleepMs) {
    // processEvents(WaitForMoreEvents) sleeps until something happens; the single-shot
    // timer is that something when nothing else comes before the caller's deadline.
    wakeUp.start(qMax(1, maxSleepMs));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtEventPass::runPending() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

QtIntervalTimer::QtIntervalTimer(int intervalMs) {
    timer.setInterval(intervalMs);
    QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
}

void QtIntervalTimer::setEnabled(bool enabled) {
    if (enabled && !timer.isActive())
        timer.start();
    else if (!enabled)
        timer.stop();
}
