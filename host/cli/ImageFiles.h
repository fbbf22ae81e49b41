// PNG files in and out of pixel worlds (8 bits per channel, straight alpha).
#pragma once

#include <string>

#include "tevhost/PixelWorld.h"

namespace TEV::Host::Cli {

// An 8-bit world with the file's pixels (grey and RGB files get opaque
// alpha). HostError naming the file when it cannot be read.
PixelWorld readPng(const std::string& path);

// Writes any depth as 8-bit RGBA (16-bit and float channels are scaled and
// clamped). HostError naming the file when it cannot be written.
void writePng(const std::string& path, const PixelWorld& world);

}  // namespace TEV::Host::Cli
