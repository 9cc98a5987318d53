// The engine's status display on a console: display calls turned into port events.
#include "ConsoleDisplay.h"

#include "LineSettings.h"

void ConsoleDisplay::showState(DisplayState state) {
    if (state == DisplayState::Warning && !warned) {
        // The engine shows the warning at every probe the module echoes; once is enough here.
        warned = true;
        sink(PortEventKind::SwitchOff, 0);
    } else if (state == DisplayState::Error) {
        sink(PortEventKind::Restart, ++restarts);
    } else if (state == DisplayState::Success) {
        sink(PortEventKind::Settled, 0);
    }
}

// The progress maximum is set once per attempt, right before the announcement goes out.
void ConsoleDisplay::setProgressMax(int max) {
    sink(PortEventKind::Announced, max / ModuleLine::BlocksPerSector);
}

void ConsoleDisplay::setProgressValue(int value) {
    if (value > 0)
        sink(PortEventKind::BlocksSent, value);
}
