#pragma once

#include "SessionEvents.h"

#include <functional>

// What a port's session tells the console, as it happens.
// Settled: the module's 2 s settle pause after the end mark is over; what follows in the engine
// is the window's success display, which a console does not wait for.
enum class PortEventKind { SwitchOff, Announced, BlocksSent, Restart, Settled };

// The session's events as the console's progress wants them: the setup-switch warning once per
// session, the announcement with its sector count, each block sent, each restart.
class PortEventRelay : public SessionEvents {
public:
    using Sink = std::function<void(PortEventKind kind, int value)>;

    explicit PortEventRelay(Sink sink)
        : sink(std::move(sink)) {}

    void switchOff() override {
        if (!warned)
            sink(PortEventKind::SwitchOff, 0);
        warned = true;
    }
    void announced(int sectors) override { sink(PortEventKind::Announced, sectors); }
    void blockSent(int blocksSent, int) override { sink(PortEventKind::BlocksSent, blocksSent); }
    void restarting(int restart) override { sink(PortEventKind::Restart, restart); }
    void settled() override { sink(PortEventKind::Settled, 0); }

private:
    Sink sink;
    bool warned = false;
};
