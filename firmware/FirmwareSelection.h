#pragma once

#include <QString>
#include <QStringList>

// Lets the operator pick one of several images; returns the chosen name, or empty text
// when the choice was closed without one.
class ImageChooser {
public:
    virtual ~ImageChooser() = default;
    virtual QString chooseImage(const QStringList& namesNewestFirst) = 0;
};

// Image names in `folder` that match `pattern` (letter case ignored, regular visible
// files only), newest first. A file that vanishes while the list is made is left out.
QStringList firmwareCandidates(const QString& folder, const QString& pattern);

// The full path of the image to use: the newest match, or in expert mode with more than
// one match the operator's choice. Empty text when there is none.
QString SelectFirmwareFile(const QString& folder, const QString& pattern, bool expertMode,
                           ImageChooser& chooser);
