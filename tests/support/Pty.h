#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair for serial tests. The slave side is what the code under test opens
// by its path; the test plays the peer on the master side. The master is raw, so no byte is
// echoed or rewritten on the way, and the slave descriptor stays open as long as the pair
// lives, so the slave device does not go away between opens. Closing the master is how a
// test makes the line hang up.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool isValid() const { return masterFd >= 0 && slaveFd >= 0; }
    // errno text of the failed set-up, empty when the pair is usable.
    QString error() const { return setupError; }
    QString slavePath() const { return slaveName; }
    int master() const { return masterFd; }
    // The test's own descriptor of the slave: line settings can be read through it.
    int slave() const { return slaveFd; }

    // Sends every byte to the slave side, running Qt's event loop while the slave side is full;
    // false when the master is gone or a write fails.
    bool write(const QByteArray& bytes);
    // Whatever the slave side has sent and is waiting now; never blocks.
    QByteArray readAvailable();
    // Reads until `count` bytes have come or `timeoutMs` has passed, running Qt's event loop
    // in between, so that code under test in this thread can get its bytes out.
    QByteArray read(qsizetype count, int timeoutMs);
    // The test stops holding the slave side (its descriptor is pointed at /dev/null), so that a
    // look at who holds the line finds only the code under test or the test's children.
    void letGoOfSlave();
    // The peer hangs up.
    void closeMaster();

private:
    int masterFd = -1;
    int slaveFd = -1;
    QString slaveName;
    QString setupError;
};
