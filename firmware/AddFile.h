#pragma once

#include <QString>

class EventPass;
class Prompts;
class QWidget;

// The file-open dialog of the add-file command.
class AddFilePrompts {
public:
    virtual ~AddFilePrompts() = default;
    // The full path of the chosen file, or empty text when the operator cancelled.
    virtual QString openBinFile() = 0;
};

enum class AddFileResult { Cancelled, SameFile, Declined, Copied, Failed };

// Copies an image chosen by the operator into the program folder, asking before it
// replaces a file of the same name. Only a regular file the module can take (1 byte up to
// 255 sectors) is copied, whole and with its modification time, or not at all; the window
// stays live meanwhile. A refusal or failure is reported in a message box.
AddFileResult addFirmwareFile(const QString& programFolder, AddFilePrompts& dialog, Prompts& prompts,
                              EventPass& events);

// True when both paths lead to one file, whatever the path texts (letter case on a
// case-blind file system, symbolic links, "." and "..").
bool isSameFile(const QString& a, const QString& b);
