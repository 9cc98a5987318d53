#pragma once

#include "ConsoleOutput.h"

// The table at the end of a one-shot run: a line per port with its result.
class SummaryTable : public ConsoleOutput {
public:
    SummaryTable(const QList<PortTarget>& ports, OutputStream& out);

    void finished(int port, const SessionReport& report) override { reports[port] = report; }
    void end() override;

private:
    void print(const QString& text);

    OutputStream& out;
    QList<PortTarget> ports;
    QList<SessionReport> reports;
};
