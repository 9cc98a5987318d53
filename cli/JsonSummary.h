#pragma once

#include "ConsoleOutput.h"

// --json of a one-shot run: one JSON document at the end, the image and a result per port.
class JsonSummary : public ConsoleOutput {
public:
    JsonSummary(const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out);

    void finished(int port, const SessionReport& report) override { reports[port] = report; }
    void end() override;

private:
    const FirmwareImage& image;
    OutputStream& out;
    QList<PortTarget> ports;
    QList<SessionReport> reports;
};
