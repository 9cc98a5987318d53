#pragma once

#include "PortCheck.h"

#include <QList>

class OutputStream;

// Whom the checks were made for, and where the COM map came from.
struct DoctorHeading {
    QString user;
    bool underSudo = false;
    QString settingsFile;
};

// One block a port: its name and device, then a line a check (ok / problem / unknown), and
// below a check that has one, the fix.
void writeDoctorText(const DoctorHeading& heading, const QList<PortReport>& reports, OutputStream& out);
// One document: {"user", "sudo", "settings", "usable", "ports": [{"port", "device", "usable",
// "checks": [{"name", "status", "text", "fix"}]}]}.
void writeDoctorJson(const DoctorHeading& heading, const QList<PortReport>& reports, OutputStream& out);
