#pragma once

#include "PortAssignment.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class AnyPortControl;
class Clock;
class EventPass;
class SerialControl;

// A port of the command line: how it is named and the device it stands for.
struct PortTarget {
    QString label;  // "COM3", or the device path or network address as given
    int com = 0;    // 1 to 9 for a COM port, 0 for a path or an address
    QString device; // what is opened: what the COM number maps to, the path's real name, or the address
    // A network port's host as the check for one line under two names found it: its connection
    // uses these instead of looking the name up again. Empty: the connection looks it up.
    QList<QHostAddress> addresses;
};

struct PortResolution {
    QList<PortTarget> targets;
    QString error;   // a usage error: two ports that are one device
    QString warning; // the settings file could not take a new [Ports] line
};

// The settings file the window uses: its [Ports] lines map COM numbers to devices.
QString cliSettingsFile();

// The COM numbers of this run, with the devices present given theirs as the window gives them
// (new [Ports] lines are written to the settings file).
PortAssignmentResult cliPortMap(const QString& settingsFile);

// Maps COM1 to COM9 through the settings file; a path stands for the device it leads to, a
// network address (rfc2217://HOST:PORT, socket://HOST:PORT) for the line it reaches. The
// settings file is read (and new adapters given numbers) only when a COM port is named. A port
// that is this program's own terminal, two names of one device, or two addresses of one line
// (see LineIdentity; names that share a TCP port are looked up for it, all within 3 s) make a
// usage error.
PortResolution resolvePorts(const QStringList& ports, const QString& settingsFile);

// "COM3 (/dev/ttyUSB0) cannot be opened: it does not exist": the port named once, with its
// device where that is another name, and why the last open failed.
QString portOpenFailure(const PortTarget& port, const SerialControl& serial);

// The serial control for one port, local or over the network, set up for the module's line and
// named as the port is.
std::unique_ptr<AnyPortControl> makePortControl(EventPass& events, const Clock& clock,
                                                const PortTarget& port);
