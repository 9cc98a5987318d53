#include "QtEventPass.h"

#include <QCoreApplication>

QtEventPass::QtEventPass() {
    wakeUp.setSingleShot(true);
    wakeUp.setTimerType(Qt::PreciseTimer);
    wakeUp.setInterval(10);
}

void QtEventPass::runOnce() {
    wakeUp.start();
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
