// The check the render bridge makes before it copies a server's result image
// into the host's output world.
#pragma once

#include <string>

#include "AE_Effect.h"
#include "TEV.h"

// Why `result` cannot be copied into an output world of `width` x `height`
// at `bit_depth`, or "" when it can. The pixel functions read the result by
// the output's coordinates, so its size, channels (3 or 4) and storage must
// match exactly: byte storage of 8-bit samples for an 8-bit world, of 16-bit
// samples (or float storage of a 32-bit image) for a 16-bit world, float
// storage for a 32-bit world, each holding width * height * channels samples.
std::string resultMismatch(const TEV::Image& result, A_long width, A_long height, int bit_depth);
