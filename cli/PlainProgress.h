#pragma once

#include "ConsoleOutput.h"

// The one-shot run in a log or a pipe: one plain line per event, as it happens.
class PlainProgress : public ConsoleOutput {
public:
    PlainProgress(const FirmwareImage& image, const QList<PortTarget>& ports, OutputStream& out);

    void begin() override;
    void event(int port, PortEventKind kind, int value) override;
    void finished(int port, const SessionReport& report) override;

private:
    void print(const QString& text);

    const FirmwareImage& image;
    OutputStream& out;
    QList<PortTarget> ports;
    QList<int> sectors; // announced, per port
};
