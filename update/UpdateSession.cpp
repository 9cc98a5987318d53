#include "Clock.h"
#include "EventPass.h"
#include "Prompts.h"
#include "SerialControl.h"
#include "StatusDisplay.h"
#include "UpdateEngine.h"

#include <QDir>

UpdateEngine::UpdateEngine(const EngineSeams& seams, QObject* parent)
    : QObject(parent)
    , io(seams) {
    connect(&io.MSComm1, &SerialControl::OnComm, this, &UpdateEngine::MSComm1_OnComm);
    io.Timer1.setTickHandler([this] { Timer1_Timer(); });
}

void UpdateEngine::StartUpdate() {
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

    session.RxBuffer.clear();
    if (!identifyModule())
        return;

    firmwarePath = io.SelectFirmwareFile(ImagePattern);
    io.display.setFileName(firmwarePath);
    if (firmwarePath.isEmpty()) {
        // No image to send: say where we looked, and go back to ready without touching the module.
        io.display.setBusyCursor(false);
        io.prompts.showMessage({QStringLiteral("No firmware image was chosen.\n"
                                               "The folder %1 holds no file matching %2, "
                                               "or none was selected.")
                                    .arg(QDir::toNativeSeparators(io.programFolder), ImagePattern),
                                QStringLiteral("Firmware Error"), MessageIcon::Critical});
        returnToReady();
        return;
    }
    session.RxBuffer.clear();
    SendFirmware();
}

void UpdateEngine::showPortError() {
    io.prompts.showMessage(
        {QStringLiteral("No Com Port selected!"), QStringLiteral("ComPortError"), MessageIcon::Critical});
    io.display.setStatusText(QString());
    io.display.setActivityForeColor(Colours::Green);
    io.display.showState(DisplayState::Ready);
    io.display.setProgressValue(0);
    io.display.setPercentText(QStringLiteral("0%"));
    io.display.setBusyCursor(false);
}

// Probes until the module answers with an accepted type code. There is no pass limit:
// the operator leaves by Exit if no module ever answers. A line that is lost meanwhile
// (adapter unplugged) ends the session as if no port had been selected.
bool UpdateEngine::identifyModule() {
    for (;;) {
        io.events.runPending();
        for (;;) {
            if (!io.MSComm1.PortOpen()) {
                io.Timer1.setEnabled(false);
                showPortError();
                return false;
            }
            session.RxBuffer.clear();
            discardUnreadInput();
            io.MSComm1.Output(ModuleProbe);
            warte(0.2);
            if (!session.RxBuffer.startsWith("XX"))
                break;
            // The module echoes the probe while its setup switch is off.
            io.display.showState(DisplayState::Warning);
        }
        io.display.showState(DisplayState::Checking);
        warte(1);
        session.LastTick = io.clock.ticks();
        io.Timer1.setEnabled(true);
        const QByteArray answer = session.RxBuffer.left(2);
        if (answer == "AA" || answer == "AB" || answer == "AC" || answer == "UP")
            return true;
    }
}
