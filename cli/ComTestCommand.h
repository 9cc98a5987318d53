#pragma once

#include "OutputStream.h"
#include "PortTargets.h"

class StopSignals;

// --comtest: the communication test on one port. Returns 0 when the module confirmed, else 1.
// Ctrl+C ends the test at once.
int runComTestCommand(const PortTarget& port, OutputStream& out, const StopSignals& stopSignals);
