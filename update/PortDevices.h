#pragma once

#include <QString>

// COM port n is the device named by key COM<n> of section [Ports] in the settings file,
// or /dev/ttyS<n-1> when there is no such line. A line that is present always counts, even
// with an empty value: the open then fails and says so, rather than open another device.
QString deviceForComPort(const QString& settingsFile, int port);
