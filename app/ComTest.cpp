#include "Clock.h"
#include "EventPass.h"
#include "Form1.h"
#include "Prompts.h"

#include "SerialControl.h"
#include "UpdateEngine.h"
#include <QLabel>

namespace {
constexpr double ReplyTimeOut = 4.0;
}

// A short exchange that checks the line without flashing anything: the module asks with
// "UP", the utility answers "OK" and byte 1, the module confirms with "OK".
void Form1::RunComTest() {
    setBusyCursor(true);
    SessionState& session = engine().state();
    session.resetElapsed();
    lblZeit->setText(session.elapsedText());
    setStatusText(QStringLiteral("Testmode - Waiting for request..."));

    bool passed = false;
    session.RxBuffer.clear();
    // A stray byte below the receive threshold would stand in front of the module's "UP".
    serial->Input();
    double start = clock->seconds();
    bool requested = false;
    for (;;) {
        events->runOnce();
        if (session.RxBuffer.startsWith("UP")) {
            requested = true;
            break;
        }
        session.RxBuffer.clear();
        if (clock->seconds() - start > ReplyTimeOut)
            break;
    }

    if (requested) {
        engine().warte(1);
        serial->Output(QByteArrayLiteral("OK\x01"));
        session.RxBuffer.clear();
        start = clock->seconds();
        for (;;) {
            events->runOnce();
            if (session.RxBuffer.endsWith("OK")) {
                passed = true;
                break;
            }
            if (clock->seconds() - start > ReplyTimeOut)
                break;
        }
    }

    if (passed)
        prompts->showMessage({QStringLiteral("Serial Communication O.K."), QStringLiteral("Com-Test"),
                              MessageIcon::Information});
    else
        prompts->showMessage({QStringLiteral("Serial Communication failed!"), QStringLiteral("Com-Test"),
                              MessageIcon::Critical});

    ComTestRunning = false;
    setBusyCursor(false);
    engine().closeImage();
    setStatusText(QString());
}
