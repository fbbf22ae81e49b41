// Reduced frames, as a host renders a preview at a fraction of the size.
//
// Blocks lie on the absolute pixel grid, not on a window's corner: the pixel
// at (x, y) belongs to output pixel (floor(x / N), floor(y / N)), for negative
// coordinates too. So an odd data-window origin does not shift the content,
// and parts with different windows stay aligned with each other and with the
// display window. A block that a window's edge cuts holds only the pixels
// inside the window.
#pragma once

#include "tevhost/PixelWorld.h"

namespace TEV::Host::Cli {

// value / factor rounded towards minus infinity (factor >= 1).
int floorDiv(int value, int factor);

// The blocks along one axis of a window `size` pixels long whose first pixel
// is at `origin` on the absolute grid.
struct BlockAxis {
    int origin = 0;
    int size = 1;
    int factor = 1;
    // The absolute coordinate of the first output pixel, and how many there are.
    int first() const { return floorDiv(origin, factor); }
    int count() const { return floorDiv(origin + size - 1, factor) - first() + 1; }
    // The pixels of output pixel i (0-based), as indices into the window: [begin, end).
    int begin(int i) const;
    int end(int i) const;
};

// A world of the same depth at 1/factor, each pixel the mean of the block it
// covers; (origin_x, origin_y) is the world's first pixel on the absolute grid
// (an EXR data window's corner; 0, 0 for other files). A factor of 1 gives an
// exact copy. HostError for a factor below 1.
PixelWorld downsampled(const PixelWorld& world, int factor, int origin_x = 0, int origin_y = 0);

}  // namespace TEV::Host::Cli
