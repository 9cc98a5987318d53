#pragma once

#include "FirmwareImage.h"

#include <QString>

// The image of a run, read and checked once before any port is opened: `given` when the
// operator named one, else the newest QVL-GEN*.bin of the program folder, as the window
// chooses it. False, with the reason, when there is none or it cannot be sent.
bool loadRunImage(const QString& given, const QString& programFolder, FirmwareImage& image, QString& error);
