// Reduced frames, as a host renders a preview at a fraction of the size.
#pragma once

#include "tevhost/PixelWorld.h"

namespace TEV::Host::Cli {

// A world of the same depth, 1/factor of the size (rounded up), each pixel
// the mean of the factor x factor block it covers (clipped at the right and
// bottom edges). A factor of 1 gives an exact copy. HostError for a factor
// below 1.
PixelWorld downsampled(const PixelWorld& world, int factor);

}  // namespace TEV::Host::Cli
