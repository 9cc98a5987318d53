#pragma once

#include <QString>

// Whether a path is a serial line: the rule that decides which devices get COM numbers.
struct SerialLineVerdict {
    bool serial;
    QString what; // what the path is, in words: "a serial line (ttyUSB0)", "a regular file"
};

SerialLineVerdict judgeSerialLine(const QString& path, const QString& sysRoot = QStringLiteral("/sys"));
