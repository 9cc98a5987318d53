#pragma once

#include "FirmwareImage.h"

class SerialControl;

// How the serial control is set up for the module: answers are two characters, so a receive
// event is wanted for every two bytes; a block is one output buffer, and four of them make a
// sector of the module's flash.
namespace ModuleLine {
constexpr int InBufferSize = 2;
constexpr int InputLen = 0; // Input returns everything waiting
constexpr int OutBufferSize = 16384;
constexpr int RThreshold = 2;
constexpr int BlocksPerSector = 4;
static_assert(BlocksPerSector * OutBufferSize == FirmwareImage::SectorSize,
              "four blocks of the output buffer must make one sector");

// Puts the settings above on the control, before it is opened.
void apply(SerialControl& control);
} // namespace ModuleLine
