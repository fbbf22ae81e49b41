// A generated sample clip: moving shapes over gradients, for demonstrations
// and tests of the front end.
#pragma once

#include <string>

#include "tevhost/PixelWorld.h"

namespace TEV::Host::Cli {

// Frame `index` of `count` as a float world: a sky-to-ground gradient whose
// hue drifts, a grey step wedge, a disc crossing the frame, a square that
// turns, and a saturated colour bar. Every channel lies in 0..1; alpha is 1.
PixelWorld sampleFrame(int width, int height, int index, int count);

// Writes `count` frames (numbered from 1) as <folder>/png8/clip_%04d.png,
// <folder>/png16/clip_%04d.png and <folder>/exr/clip_%04d.exr. HostError
// when a file cannot be written.
void writeSampleClip(const std::string& folder, int width, int height, int count);

}  // namespace TEV::Host::Cli
