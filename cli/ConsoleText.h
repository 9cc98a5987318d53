#pragma once

#include "FirmwareImage.h"

#include <QString>

// Texts the console's outputs share.
namespace ConsoleText {
// 0:01:05: hours without a leading zero, two-digit minutes and seconds.
QString clock(double seconds);
// A message meant for a box (line breaks, a carriage return between the languages) on one line.
QString oneLine(QString text);
// "Image PATH: BYTES bytes, N sectors, SHA-256 HEX".
QString imageLine(const FirmwareImage& image);
} // namespace ConsoleText
