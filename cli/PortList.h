#pragma once

#include "OutputStream.h"

#include <QString>

// --list-ports: COM1 to COM9 with their devices, what the system says of each, and whether it
// opens now. Returns the exit status.
int listPorts(const QString& settingsFile, OutputStream& out);
