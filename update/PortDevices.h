#pragma once

#include <QString>

// COM port n is the device named by key COM<n> of section [Ports] in the settings file,
// or /dev/ttyS<n-1> when there is none. The utility reads [Ports] and never writes it.
QString deviceForComPort(const QString& settingsFile, int port);
