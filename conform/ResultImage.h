// Does a render's result hold the frame the plug-in can copy back?
#pragma once

#include <string>

#include "TEV.h"

namespace TEV {
namespace Conform {

// Why the job result `result` (what the client's call_plugin returns; the
// plug-in reads the image at "result.image") does not hold a well-formed image
// of `sent`'s width, height, channels and bit depth with a pixel block of the
// right length, or "" when it does. The image is read as the plug-in reads it,
// after the client's decoding.
std::string resultImageProblem(const Dict& result, const Image& sent);

// "64x48x3 at 8 bits, 9216 bytes": the image at "result.image" of `result`.
std::string describeResultImage(const Dict& result);

}  // namespace Conform
}  // namespace TEV
