#pragma once

#include "PortAssignment.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class EventPass;
class SerialPortControl;

// A port of the command line: how it is named and the device it stands for.
struct PortTarget {
    QString label;  // "COM3", or the device path as given
    int com = 0;    // 1 to 9 for a COM port, 0 for a path
    QString device; // the device opened: what the COM number maps to, or the path's real name
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

// Maps COM1 to COM9 through the settings file; a path stands for the device it leads to. The
// settings file is read (and new adapters given numbers) only when a COM port is named. A port
// that is this program's own terminal, or two names of one device, make a usage error.
PortResolution resolvePorts(const QStringList& ports, const QString& settingsFile);

// "COM3 (/dev/ttyUSB0) cannot be opened: it does not exist": the port named once, with its
// device where that is another name, and why the last open failed.
QString portOpenFailure(const PortTarget& port, const SerialPortControl& serial);

// The serial control for one port, set up for the module's line and named as the port is.
std::unique_ptr<SerialPortControl> makePortControl(EventPass& events, const PortTarget& port);
