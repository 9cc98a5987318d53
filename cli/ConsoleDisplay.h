#pragma once

#include "Prompts.h"
#include "StatusDisplay.h"

// The engine's status display without a window: a console follows the session through its
// events (SessionEvents), so nothing of the window's display has anything to show here. The
// activity step is kept, as the engine reads it back at every tick.
class ConsoleDisplay : public StatusDisplay {
public:
    void showState(DisplayState) override {}
    void setStatusText(const QString&) override {}
    void setFileName(const QString&) override {}
    void setProgressMax(int) override {}
    void setProgressValue(int) override {}
    void setPercentText(const QString&) override {}
    void setElapsedText(const QString&) override {}
    void setActivityForeColor(quint32) override {}
    int activityStep() const override { return step; }
    void setActivityStep(int value) override { step = value; }
    void setBusyCursor(bool) override {}
    void beep() override {}

private:
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
