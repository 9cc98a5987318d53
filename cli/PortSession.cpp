// One port's update on its own thread: open the line, run the engine, close the line.
#include "PortSession.h"

#include "AnyPortControl.h"
#include "ConsoleDisplay.h"
#include "PortEvents.h"
#include "QtEventPass.h"
#include "SystemClock.h"

#include <QMutexLocker>

PortSession::PortSession(PortTarget target, FirmwareImage image, double identifyLimit, QObject* parent)
    : QThread(parent)
    , port(std::move(target))
    , image(std::move(image))
    , identifyLimit(identifyLimit) {}

PortSession::~PortSession() {
    requestStop();
    wait();
}

void PortSession::requestStop() {
    const QMutexLocker lock(&engineLock);
    stopRequested = true;
    // Handed to the engine's own thread: it lands inside the session's next wait, never
    // before the session has begun (a stop asked for earlier would be forgotten at its start).
    if (engine)
        QMetaObject::invokeMethod(
            engine, [target = engine] { target->interrupt(); }, Qt::QueuedConnection);
}

void PortSession::run() {
    runSession();
    // A session that ended before it could look at the image still names the one it was to send.
    if (result.imagePath.isEmpty()) {
        result.imagePath = image.path();
        result.imageBytes = image.fileBytes();
        result.sectors = image.sectorCount();
        result.sha256 = image.sha256();
    }
}

void PortSession::endWithoutSession(SessionOutcome outcome, const QString& message) {
    result = SessionReport{};
    result.outcome = outcome;
    result.message = message;
}

void PortSession::runSession() {
    SystemClock clock;
    QtEventPass events;
    QtIntervalTimer timer(100);
    ConsoleDisplay display;
    PortEventRelay relay([this](PortEventKind kind, int value) { emit progress(int(kind), value); });
    UnattendedPrompts prompts;
    const std::unique_ptr<AnyPortControl> control = makePortControl(events, clock, port);
    SerialControl& serial = *control;

    if (stopRequested) {
        endWithoutSession(
            SessionOutcome::Interrupted,
            QStringLiteral("The session on %1 was interrupted before it began.").arg(port.label));
        return;
    }
    if (!serial.setPortOpen(true)) {
        endWithoutSession(SessionOutcome::PortError, portOpenFailure(port, serial));
        return;
    }

    UpdateEngine session({serial, clock, events, timer, display, prompts,
                          [](const QString&) { return QString(); }, QString()});
    session.setEvents(&relay);
    session.useImage(image);
    session.setIdentifyLimit(identifyLimit);
    // Nobody watches a success display here: the run ends after the module's settle pause.
    session.setSuccessDisplay(false);
    {
        const QMutexLocker lock(&engineLock);
        engine = &session;
        if (stopRequested)
            QMetaObject::invokeMethod(
                engine, [target = engine] { target->interrupt(); }, Qt::QueuedConnection);
    }
    session.StartUpdate();
    {
        const QMutexLocker lock(&engineLock);
        engine = nullptr;
    }
    result = session.lastReport();
    serial.setPortOpen(false);
}
