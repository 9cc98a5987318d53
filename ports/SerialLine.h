#pragma once

#include <QString>

struct SerialLineVerdict {
    bool serial = false;
    QString what; // what the path is: "a USB serial adapter (ttyUSB0)", "a pseudo-terminal", or why it is not
                  // a serial line: "a regular file", "a folder", "/dev/null (not a serial line)", "does not
                  // exist" ...
};

// Whether `path` (followed through links) is a serial line, decided by stat and sysfs alone, never by opening
// it. `sysRoot` stands for /sys (tests pass a made-up tree).
//
// A serial line is a pseudo-terminal slave (majors 136 to 143), or a character device whose
// <sysRoot>/dev/char/MAJ:MIN link leads to a folder NAME that <sysRoot>/class/tty/NAME lists and
// that has a `device` entry (the UART, USB or ACM interface behind it). /dev/tty, /dev/console,
// /dev/ptmx, the virtual consoles, /dev/null and /dev/zero are never one, whatever sysfs says.
SerialLineVerdict judgeSerialLine(const QString& path, const QString& sysRoot = QStringLiteral("/sys"));
