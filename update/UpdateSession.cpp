// The update session: its start, module identification, the session's end and its report.
#include "Clock.h"
#include "EventPass.h"
#include "Prompts.h"
#include "SerialControl.h"
#include "StatusDisplay.h"
#include "UpdateEngine.h"

#include "FileState.h"

#include <QDir>
#include <QFile>

UpdateEngine::UpdateEngine(const EngineSeams& seams, QObject* parent)
    : QObject(parent)
    , io(seams) {
    connect(&io.MSComm1, &SerialControl::OnComm, this, &UpdateEngine::MSComm1_OnComm);
    connect(&io.MSComm1, &SerialControl::lineLost, this, &UpdateEngine::onLineLost);
    io.Timer1.setTickHandler([this] { Timer1_Timer(); });
}

void UpdateEngine::StartUpdate() {
    {
        const SessionScope scope(*this);
        runUpdate();
    }
    events->finished(report);
}

void UpdateEngine::runUpdate() {
    io.display.setBusyCursor(true);
    session.ErrorCount = 0;
    session.resetElapsed();
    io.display.setElapsedText(session.elapsedText());
    io.display.setProgressValue(0);
    io.display.setActivityForeColor(Colours::Red);
    io.display.showState(DisplayState::Checking);

    if (!io.MSComm1.PortOpen()) {
        showPortError();
        return;
    }

    observeImages();
    session.RxBuffer.clear();
    if (!identifyModule())
        return;

    if (!loadImage())
        return;
    session.RxBuffer.clear();
    SendFirmware();
}

void UpdateEngine::showPortError() {
    const QString text = QStringLiteral("No Com Port selected!");
    finish(SessionOutcome::PortError, text);
    io.prompts.showMessage({text, QStringLiteral("ComPortError"), MessageIcon::Critical});
    io.display.setStatusText(QString());
    backToReady();
}

// Probes until the module answers with an accepted type code. In the window there is no
// pass limit: the operator leaves by Exit if no module ever answers. A line that is lost
// meanwhile (adapter unplugged) ends the session with a message that says so.
bool UpdateEngine::identifyModule() {
    const double probingSince = io.clock.seconds();
    for (;;) {
        io.events.runPending();
        events->probing();
        for (;;) {
            if (!stopped() && !io.MSComm1.PortOpen())
                stopReason = int(Stop::LineLost);
            if (stopped()) {
                endStopped();
                return false;
            }
            if (identifyLimit > 0 && io.clock.seconds() - probingSince >= identifyLimit) {
                const QString text = QStringLiteral("No module answered on %1 within %2 s.")
                                         .arg(io.MSComm1.describePort())
                                         .arg(identifyLimit);
                finish(SessionOutcome::NoModule, text);
                io.prompts.showMessage({text, QStringLiteral("Update Error"), MessageIcon::Critical});
                io.display.setStatusText(QString());
                backToReady();
                return false;
            }
            sendProbe();
            warte(0.2);
            if (!session.RxBuffer.startsWith("XX"))
                break;
            // The module echoes the probe while its setup switch is off.
            io.display.showState(DisplayState::Warning);
            events->switchOff();
        }
        io.display.showState(DisplayState::Checking);
        warte(1);
        if (stopped())
            continue; // ends the session at the top of the loop
        session.LastTick = io.clock.ticks();
        io.Timer1.setEnabled(true);
        const QByteArray answer = session.RxBuffer.left(2);
        if (!acceptedType(answer))
            continue;
        report.module = QString::fromLatin1(answer);
        if (moduleGate && !moduleGate(report.module)) {
            finish(SessionOutcome::Interrupted,
                   QStringLiteral("The module on %1 was not updated: no new update may start.")
                       .arg(io.MSComm1.describePort()));
            backToReady();
            return false;
        }
        events->identified(report.module);
        return true;
    }
}

bool UpdateEngine::acceptedType(const QByteArray& answer) {
    return answer == "AA" || answer == "AB" || answer == "AC" || answer == "UP";
}

void UpdateEngine::sendProbe() {
    session.RxBuffer.clear();
    discardUnreadInput();
    io.MSComm1.Output(ModuleProbe);
}

ProbeAnswer UpdateEngine::probeOnce() {
    ProbeAnswer result;
    if (stopped() || !io.MSComm1.PortOpen())
        return result;
    sendProbe();
    warte(0.2);
    if (session.RxBuffer.startsWith("XX")) {
        result.kind = ProbeAnswer::Kind::SwitchOff;
        return result;
    }
    warte(1);
    const QByteArray answer = session.RxBuffer.left(2);
    if (!stopped() && acceptedType(answer)) {
        result.kind = ProbeAnswer::Kind::Module;
        result.type = QString::fromLatin1(answer);
    }
    return result;
}

// The image files are watched from the Update command on: a copy still under way that
// pauses during the identification is then told from a finished one by what was seen, not
// by its timestamps, which a file server with its own clock may set anywhere.
void UpdateEngine::observeImages() {
    observed.clear();
    observedAt = io.clock.seconds();
    if (!presetImage.isLoaded())
        observed = FirmwareImage::lookAtAll(io.programFolder, ImagePattern);
}

// The one image of the session: every attempt, restarts included, sends this snapshot.
bool UpdateEngine::loadImage() {
    imageChecked = false;
    if (presetImage.isLoaded()) {
        image = presetImage;
        firmwarePath = image.path();
        io.display.setFileName(firmwarePath);
        // Read before the session began and watched since: the session's start is a later
        // point, so counting from it can only ask for more stillness, never for less.
        stillSince = sessionStart;
        imageChecked = presetSettled;
    } else {
        firmwarePath = io.SelectFirmwareFile(ImagePattern);
        io.display.setFileName(firmwarePath);
        if (firmwarePath.isEmpty()) {
            // No image to send: say where we looked, and go back to ready without touching the module.
            const QString text = QStringLiteral("No firmware image was chosen.\n"
                                                "The folder %1 holds no file matching %2, "
                                                "or none was selected.")
                                     .arg(QDir::toNativeSeparators(io.programFolder), ImagePattern);
            finish(SessionOutcome::ImageRefused, text);
            io.display.setBusyCursor(false);
            io.prompts.showMessage({text, QStringLiteral("Firmware Error"), MessageIcon::Critical});
            backToReady();
            return false;
        }
        const FirmwareImage::Check check = image.load(firmwarePath);
        if (check != FirmwareImage::Check::Ok) {
            refuseImage(check);
            return false;
        }
        // Unchanged since the Update command: it has stood still since then. Changed, or
        // chosen among files not seen then: only from this read on.
        const auto seen = observed.find(QFile::encodeName(firmwarePath));
        const bool unchanged = seen != observed.end() && sameFileState(seen->second, image.readState());
        stillSince = unchanged ? observedAt : io.clock.seconds();
    }
    report.imagePath = image.path();
    report.imageBytes = image.fileBytes();
    report.sectors = image.sectorCount();
    report.sha256 = image.sha256();
    return true;
}

void UpdateEngine::interrupt() {
    int none = int(Stop::None);
    stopReason.compare_exchange_strong(none, int(Stop::Interrupted));
    // Wakes a wait that sleeps in this object's thread.
    QMetaObject::invokeMethod(
        this, [] {}, Qt::QueuedConnection);
}

void UpdateEngine::abandonSession(const QString& why) {
    if (active && report.outcome == SessionOutcome::None)
        finish(SessionOutcome::Interrupted, why + QStringLiteral(" The module may not have been updated."));
}

void UpdateEngine::onLineLost() {
    // After the end mark the module has its firmware: the success display runs its course.
    if (!active || report.outcome == SessionOutcome::Success)
        return;
    int none = int(Stop::None);
    stopReason.compare_exchange_strong(none, int(Stop::LineLost));
}

QString UpdateEngine::stoppedText() const {
    if (stopReason.load() == int(Stop::Interrupted))
        return QStringLiteral("The session on %1 was interrupted.").arg(io.MSComm1.describePort());
    return QStringLiteral("The line to %1 was lost (%2).")
        .arg(io.MSComm1.describePort(), io.MSComm1.lineLossCause());
}

// A session stopped by a lost line or an interruption: no restart can help, so it ends
// at once and says why.
void UpdateEngine::endStopped() {
    const bool interrupted = stopReason.load() == int(Stop::Interrupted);
    const QString text = stoppedText() + QStringLiteral("\nThe module was not updated.");
    finish(interrupted ? SessionOutcome::Interrupted : SessionOutcome::LineLost, text);
    io.display.setBusyCursor(false);
    io.prompts.showMessage({text, QStringLiteral("ComPortError"), MessageIcon::Critical});
    io.display.setStatusText(QString());
    backToReady();
}

// The display after a session that ended, in whatever way.
void UpdateEngine::backToReady() {
    io.display.showState(DisplayState::Ready);
    io.display.setActivityForeColor(Colours::Green);
    io.Timer1.setEnabled(false);
    io.display.setProgressValue(0);
    io.display.setPercentText(QStringLiteral("0%"));
    io.display.setBusyCursor(false);
    image.clear();
}

UpdateEngine::SessionScope::SessionScope(UpdateEngine& engine)
    : engine(engine) {
    engine.active = true;
    engine.stopReason = int(Stop::None);
    engine.report = SessionReport{};
    engine.sessionStart = engine.io.clock.seconds();
}

UpdateEngine::SessionScope::~SessionScope() {
    engine.active = false;
    engine.stopReason = int(Stop::None);
}

// Settles the report when the outcome is known, before any box waits for the operator.
void UpdateEngine::finish(SessionOutcome outcome, const QString& message) {
    report.outcome = outcome;
    report.restarts = qMin<int>(session.ErrorCount, TimeOutsAllowed);
    report.seconds = io.clock.seconds() - sessionStart;
    report.message = message;
}
