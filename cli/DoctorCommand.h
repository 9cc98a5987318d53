#pragma once

#include <QStringList>

class OutputStream;
class SystemView;

// kestrune-update --doctor [--json] [PORT...]: the port checks of each PORT, or with none of
// COM1 to COM9, every serial device present and the USB adapters that have no line. Reads the
// COM map without writing a [Ports] line. 0 when every port named (or every COM that maps to
// something present) is usable, 1 when one is not.
int runDoctor(const SystemView& system, const QStringList& ports, bool json, OutputStream& out);

// The settings file of the user judged: under sudo that of SUDO_USER.
QString doctorSettingsFile(const SystemView& system);
