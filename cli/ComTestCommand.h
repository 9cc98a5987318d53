#pragma once

#include "PortTargets.h"

class StopSignals;

#include <cstdio>

// --comtest: the communication test on one port. Returns 0 when the module confirmed, else 1.
// Ctrl+C ends the test at once.
int runComTestCommand(const PortTarget& port, std::FILE* out, const StopSignals& stopSignals);
