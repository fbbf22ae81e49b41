// A contact sheet: rows of images side by side, each row under a caption.
#pragma once

#include <string>
#include <vector>

#include "tevhost/PixelWorld.h"

namespace TEV::Host::Cli {

struct SheetRow {
    std::string caption;
    std::vector<std::string> images;  // files readImage() takes
};

// An 8-bit sheet: every image scaled (area average) to `cell_width` pixels
// wide keeping its aspect, a caption band above each row, dark gaps between
// cells. Float and 16-bit images are shown clamped to 0..1. HostError for an
// image that cannot be read, or no rows.
PixelWorld contactSheet(const std::vector<SheetRow>& rows, int cell_width);

// A world of the same depth scaled to width x height by area averaging.
PixelWorld resized(const PixelWorld& world, int width, int height);

}  // namespace TEV::Host::Cli
