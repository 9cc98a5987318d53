#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

// Seconds on a monotonic clock.
double monotonicNow();

// SIGTERM, SIGINT and SIGHUP request a clean stop; every wait of the simulator wakes up for it.
bool installStopHandlers(std::string& error);
bool stopRequested();

// The module's end of the serial line: a pseudo-terminal's master side, or a real serial device.
// All waiting happens in here, through poll(), so the simulator sleeps whenever nothing is due.
class Line {
public:
    enum class Wake { Input, Timeout, Stop, Closed };

    Line() = default;
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    bool openPseudoTerminal(std::string& error);
    bool openDevice(const std::string& path, std::string& error);

    // The device the host opens.
    const std::string& path() const { return path_; }

    // Sleeps until input is waiting (only if `wantInput`), `deadline` (monotonic seconds; infinity
    // for none) has passed, or a stop was requested.
    Wake wait(double deadline, bool wantInput);

    // At most `size` waiting bytes; 0 if none; -1 if the line failed.
    ssize_t read(uint8_t* buffer, size_t size);

    // Sends all of `bytes`. If the host takes nothing for 2 s the rest is dropped (and reported), so
    // a host that stopped reading cannot freeze the simulator.
    bool write(const std::string& bytes);

    // Lets `seconds` pass; false if a stop was requested meanwhile.
    bool pause(double seconds);

    // Waits (at most `timeout` seconds) until the host has read everything sent, so that an answer
    // is not lost when the simulator exits right after it.
    void drain(double timeout);

    // Closes our end, which the host sees as a hang-up (an adapter pulled out).
    void hangUp();

private:
    int fd_ = -1;        // pseudo-terminal master, or the device
    int heldSlave_ = -1; // pseudo-terminal slave, held open so the line never hangs up between host opens
    std::string path_;
};
