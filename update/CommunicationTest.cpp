// The communication test: the module asks with "UP", the utility answers "OK" and byte 1,
// the module confirms with "OK". It checks the line without flashing anything.
#include "Prompts.h"
#include "SerialControl.h"
#include "StatusDisplay.h"
#include "UpdateEngine.h"

bool UpdateEngine::RunComTest() {
    const SessionScope scope(*this);
    io.display.setBusyCursor(true);
    session.resetElapsed();
    io.display.setElapsedText(session.elapsedText());
    io.display.setStatusText(QStringLiteral("Testmode - Waiting for request..."));

    session.RxBuffer.clear();
    // A stray byte below the receive threshold would stand in front of the module's "UP".
    discardUnreadInput();
    // Only a request at the very start counts; anything else is thrown away at each look.
    bool passed = awaitReply([](QByteArray& rx) {
        if (rx.startsWith("UP"))
            return true;
        rx.clear();
        return false;
    });
    if (passed) {
        warte(1);
        io.MSComm1.Output(QByteArrayLiteral("OK\x01"));
        session.RxBuffer.clear();
        // The confirmation may come in pieces: nothing is discarded here.
        passed = !stopped() && awaitReply([](QByteArray& rx) { return rx.endsWith("OK"); });
    }

    if (stopped()) {
        const QString text = stoppedText() + QStringLiteral("\nSerial Communication failed!");
        finish(stopReason.load() == int(Stop::Interrupted) ? SessionOutcome::Interrupted
                                                           : SessionOutcome::LineLost,
               text);
        io.prompts.showMessage({text, QStringLiteral("Com-Test"), MessageIcon::Critical});
    } else if (passed) {
        finish(SessionOutcome::Success);
        io.prompts.showMessage({QStringLiteral("Serial Communication O.K."), QStringLiteral("Com-Test"),
                                MessageIcon::Information});
    } else {
        const QString text = QStringLiteral("Serial Communication failed!");
        finish(SessionOutcome::Failed, text);
        io.prompts.showMessage({text, QStringLiteral("Com-Test"), MessageIcon::Critical});
    }

    io.display.setBusyCursor(false);
    image.clear();
    io.display.setStatusText(QString());
    return passed;
}
