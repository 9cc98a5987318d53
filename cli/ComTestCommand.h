#pragma once

#include "PortTargets.h"

#include <cstdio>

// --comtest: the communication test on one port. Returns 0 when the module confirmed, else 1.
int runComTestCommand(const PortTarget& port, std::FILE* out);
