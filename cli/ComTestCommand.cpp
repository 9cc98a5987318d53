// --comtest: the communication test on one port, its result as text and exit status.
#include "ComTestCommand.h"

#include "AnyPortControl.h"
#include "ConsoleDisplay.h"
#include "QtEventPass.h"
#include "StopSignals.h"
#include "SystemClock.h"
#include "UpdateEngine.h"

int runComTestCommand(const PortTarget& port, OutputStream& out, const StopSignals& stopSignals) {
    SystemClock clock;
    QtEventPass events;
    QtIntervalTimer timer(100);
    ConsoleDisplay display;
    UnattendedPrompts prompts;
    const std::unique_ptr<AnyPortControl> control = makePortControl(events, clock, port);
    SerialControl& serial = *control;
    if (!serial.setPortOpen(true)) {
        std::fprintf(stderr, "kestrune-update: %s\n", qPrintable(portOpenFailure(port, serial)));
        return 1;
    }
    UpdateEngine engine({serial, clock, events, timer, display, prompts,
                         [](const QString&) { return QString(); }, QString()});
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &engine, &UpdateEngine::interrupt);
    out.write(port.label + QStringLiteral(": communication test, waiting for the module's request...\n"));
    out.flush();
    const bool passed = engine.RunComTest();
    serial.setPortOpen(false);
    QString text = prompts.lastText;
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    out.write(port.label + QStringLiteral(": ") + text + QLatin1Char('\n'));
    return passed ? 0 : 1;
}
