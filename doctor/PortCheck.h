#pragma once

#include <QList>
#include <QString>

// One finding about a port: what was looked at, the verdict, what was seen, and what to type.
struct PortCheck {
    enum class Status { Ok, Problem, Unknown };

    QString name; // "device", "present", "serial-line", "access", "holders", ...
    Status status = Status::Ok;
    QString text; // what was found, one sentence
    QString fix;  // what the operator can do; empty when there is nothing to do
    // The cause in words that fit after "Com3 could not be opened: " (problems only).
    QString cause;

    static QString statusName(Status status);
};

// Every check of one port, in the order they ran.
struct PortReport {
    QString port;   // as named: COM3, a path, an address, or a USB adapter's place on the bus
    QString device; // what it stands for
    QList<PortCheck> checks;
    // Counted in the exit status: a named port, or a COM that maps to something present.
    bool counts = true;

    // No check found a problem.
    bool usable() const;
    // The check of that name, null when it was not made.
    const PortCheck* find(const QString& name) const;
    // The first problem's cause, empty when none has one.
    QString firstCause() const;
};
