#pragma once

#include "SerialControl.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <functional>

class SimWorld;

// The serial control of the tests: records every write, and takes what the module sends
// through deliver(). Which ports open, and why the others do not, is set by the test.
class FakeSerial : public SerialControl {
    Q_OBJECT
public:
    FakeSerial() = default;

    bool setPortOpen(bool open) override;
    bool PortOpen() const override { return open; }
    void Output(const QByteArray& text) override;
    QByteArray Input() override;

    // Module to host.
    void deliver(const QByteArray& bytes);
    void raiseError(int event) { raise(event); }
    // The line goes away: the port closes and says so.
    void hangUp();

    QSet<int> usablePorts{1};
    QMap<int, OpenFailure> failures; // for ports not usable; Absent when not given
    std::function<void(const QByteArray&)> onWrite;
    // Runs inside each open, before it ends: what the window does while a network port's
    // connect runs the event loop.
    std::function<void()> whileOpening;

    QByteArray wire;          // every byte written, in order
    QList<QByteArray> writes; // one entry per Output call
    QStringList log;          // "open 3", "close 3", "configure 3"
    QByteArray pending;       // received, not yet read

private:
    bool open = false;
};
