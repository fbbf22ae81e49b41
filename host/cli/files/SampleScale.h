// Sample scales between image files and the host's pixel worlds.
#pragma once

#include <cstdint>

#include "tevhost/PixelWorld.h"

namespace TEV::Host::Cli {

// A 16-bit file sample (0..65535) on the host's 16-bit scale (0..32768),
// rounded to nearest.
std::uint16_t fileToHost16(std::uint16_t file_value);
// A host 16-bit value (above 32768 counts as 32768) on the file scale,
// rounded to nearest; fileToHost16(hostToFile16(v)) == v for 0..32768.
std::uint16_t hostToFile16(std::uint16_t host_value);
// A float on a file scale of `bits` (8 or 16): clamped to 0..1 (NaN gives 0)
// and rounded to nearest.
std::uint16_t floatToFile(float value, int bits);

// Red, green, blue and alpha of one pixel of `world` on the scale of a file
// with `bits` (8 or 16) per sample. Same-depth 8-bit samples are copied;
// 16-bit worlds into 16-bit files go through hostToFile16; the rest through
// the 0..1 floats of PixelWorld::get.
void worldToFileSamples(const PixelWorld& world, int x, int y, int bits, std::uint16_t rgba[4]);

}  // namespace TEV::Host::Cli
