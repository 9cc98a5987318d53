#pragma once

#include "Prompts.h"
#include "StatusDisplay.h"

#include <QList>
#include <QStringList>
#include <functional>

// Message boxes answered by the test: each is recorded, the answer comes from a queue
// (OK when empty), and an optional hook runs while the "box" is up.
class RecordingPrompts : public Prompts {
public:
    MessageAnswer showMessage(const Message& message) override {
        messages << message;
        if (whileShown)
            whileShown(message);
        return answers.isEmpty() ? MessageAnswer::Ok : answers.takeFirst();
    }
    QStringList texts() const {
        QStringList all;
        for (const Message& m : messages)
            all << m.text;
        return all;
    }

    QList<Message> messages;
    QList<MessageAnswer> answers;
    std::function<void(const Message&)> whileShown;
};

// Records what the engine shows.
class RecordingDisplay : public StatusDisplay {
public:
    void showState(DisplayState s) override {
        state = s;
        states << s;
    }
    void setStatusText(const QString& text) override {
        statusText = text;
        statusTexts << text;
    }
    void setFileName(const QString& path) override { fileName = path; }
    void setProgressMax(int max) override { progressMax = max; }
    void setProgressValue(int value) override { progressValue = value; }
    void setPercentText(const QString& text) override {
        percent = text;
        percents << text;
    }
    void setElapsedText(const QString& text) override { elapsed = text; }
    void setActivityForeColor(quint32 colour) override { activityColour = colour; }
    int activityStep() const override { return step; }
    void setActivityStep(int s) override {
        step = s;
        steps << s;
    }
    void setBusyCursor(bool b) override { busy = b; }
    void beep() override { ++beeps; }

    DisplayState state = DisplayState::Ready;
    QList<DisplayState> states;
    QString statusText;
    QStringList statusTexts;
    QString fileName;
    int progressMax = 100;
    int progressValue = 0;
    QString percent;
    QStringList percents;
    QString elapsed;
    quint32 activityColour = 0;
    int step = 0;
    QList<int> steps;
    bool busy = false;
    int beeps = 0;
};
