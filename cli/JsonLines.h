#pragma once

#include "ConsoleOutput.h"

// --json of a station: one JSON object per finished update, with the record's fields, written
// and flushed as it ends, so a line controller reading a pipe sees each result at once.
class JsonLines : public ConsoleOutput {
public:
    JsonLines(const QList<PortTarget>& ports, OutputStream& out)
        : ports(ports)
        , out(out) {}

    void finished(int port, const SessionReport& report) override;

private:
    QList<PortTarget> ports;
    OutputStream& out;
};
