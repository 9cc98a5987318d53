#pragma once

#include "Prompts.h"
#include "StatusDisplay.h"

#include <functional>

// What a port's session tells the console, as it happens.
// Settled: the module's 2 s settle pause after the end mark is over; what follows in the engine
// is the window's success display, which a console does not wait for.
enum class PortEventKind { SwitchOff, Announced, BlocksSent, Restart, Settled };

// The engine's status display without a window: the display calls that matter on a console
// become events (the setup-switch warning once, the announcement, each block sent, each
// restart); the rest (colours, cursor, beep) has nothing to show.
class ConsoleDisplay : public StatusDisplay {
public:
    using Sink = std::function<void(PortEventKind kind, int value)>;

    explicit ConsoleDisplay(Sink sink)
        : sink(std::move(sink)) {}

    void showState(DisplayState state) override;
    void setStatusText(const QString&) override {}
    void setFileName(const QString&) override {}
    void setProgressMax(int max) override;
    void setProgressValue(int value) override;
    void setPercentText(const QString&) override {}
    void setElapsedText(const QString&) override {}
    void setActivityForeColor(quint32) override {}
    int activityStep() const override { return step; }
    void setActivityStep(int value) override { step = value; }
    void setBusyCursor(bool) override {}
    void beep() override {}

private:
    Sink sink;
    bool warned = false;
    int restarts = 0;
    int step = 0;
};

// Nobody is there to close a box: the text is kept for the report and the session goes on.
class UnattendedPrompts : public Prompts {
public:
    MessageAnswer showMessage(const Message& message) override {
        lastText = message.text;
        return MessageAnswer::Ok;
    }
    QString lastText;
};
