#pragma once

#include "SerialDeviceListing.h"

#include <QMap>
#include <QString>

// Stable COM numbers for the devices present, as the original platform gave them: a device
// keeps the number it got the first time it was seen, through a [Ports] line of its own.
//
// Rules, in order:
// - an existing [Ports] line is never changed or removed, whether its device is present or not;
// - a device is written by its stable name only when the settings reader gives that name back
//   byte for byte (see isStableName); else by its system path, as a device without a link is;
// - a device is already served when a line's value is its stable name or its system path (or
//   leads to the same device: the same device number, or the same file);
// - a device listed twice (by a link and by its path) gets at most one line;
// - a built-in /dev/ttyS<k> takes COM<k+1> when that number is free, so benches keep their numbers;
// - every other device takes the lowest free number from 1 to 9, in the order of its stable name;
// - when all nine are taken, the device gets none;
// - a line whose value is a network address (rfc2217://..., socket://...) is the operator's: it
//   serves no device, is never looked up on disk, and is never written here.
// A number is free when no [Ports] line has it and no device got it in this run.

constexpr int FirstComPort = 1;
constexpr int LastComPort = 9;

struct NewPortLine {
    int com;
    PresentDevice device;
};

struct PortAssignment {
    QList<NewPortLine> added;        // in COM number order
    QList<PresentDevice> unassigned; // no number was left for these
};

// `lines`: COM number → value of its [Ports] line, for the lines present (empty values included).
PortAssignment assignComPorts(const QMap<int, QString>& lines, const QList<PresentDevice>& present);

// What each COM number stands for in this run.
struct PortMap {
    // The value of the COM<n> line when there is one (even empty), else /dev/ttyS<n-1>.
    QString deviceFor(int com) const;
    // "description — manufacturer — serial — path", leaving out what the system does not know;
    // for a network address its kind, host and TCP port, escaped; for a line that names
    // something present that is not a serial line, what it is instead of the description.
    QString toolTip(int com) const;
    // Why the COM number's device is not a serial line ("not a serial line: a regular file",
    // "/dev/null (not a serial line)"), told without opening it; empty for a serial line, a
    // device that is absent (an unplugged adapter) and a network address.
    QString notASerialLine(int com) const;

    QMap<int, QString> lines;     // COM number → [Ports] value, the new lines included
    QList<PresentDevice> present; // the devices listed
};

struct PortAssignmentResult {
    PortMap map;
    QList<NewPortLine> added;
    QList<PresentDevice> unassigned;
    QString writeError; // empty when the new lines were written (or there were none)
};

// Lists the devices present, gives each one no line serves a number and appends its
// `COM<n>=<stable name>` line to [Ports] of the settings file, keeping every other byte. When the
// file cannot be written the assignment still holds in the returned map for this run.
PortAssignmentResult applyPortAssignment(const QString& settingsFile, const SerialDeviceListing& listing);
