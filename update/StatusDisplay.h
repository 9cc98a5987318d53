#pragma once

#include <QString>
#include <QtGlobal>

// The display states of the main window's three status labels. Each state sets the
// headline, its colour and both instruction lines together.
enum class DisplayState { Ready, Checking, Warning, Running, Error, Success };

namespace Colours {
constexpr quint32 Black = 0;
constexpr quint32 Red = 255;
constexpr quint32 Green = 0xC000;
} // namespace Colours

// What the engine writes on the main window.
class StatusDisplay {
public:
    virtual ~StatusDisplay() = default;
    virtual void showState(DisplayState state) = 0;
    virtual void setStatusText(const QString& text) = 0; // status bar panel 2
    virtual void setFileName(const QString& path) = 0;
    virtual void setProgressMax(int max) = 0;
    virtual void setProgressValue(int value) = 0;
    virtual void setPercentText(const QString& text) = 0; // shown at once
    virtual void setElapsedText(const QString& text) = 0;
    virtual void setActivityForeColor(quint32 colour) = 0;
    virtual int activityStep() const = 0;
    virtual void setActivityStep(int step) = 0;
    virtual void setBusyCursor(bool busy) = 0;
    virtual void beep() = 0;
};
