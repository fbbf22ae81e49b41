// The frames and render messages the checks send: built as the plug-in
// builds its own, with a sample pattern so that nothing travels as zeros.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "TEV.h"

namespace TEV {
namespace Conform {

// A width x height frame of `channels` samples per pixel at `bit_depth`
// (8, 16 or 32), filled with a pattern of mid-range values.
Image makeFrame(unsigned short width, unsigned short height, unsigned short channels, unsigned short bit_depth);

// Bytes of the pixel block of such a frame: width * height * channels
// samples of one (8 bits), two (16 bits) or four (32 bits) bytes.
std::size_t pixelBytes(unsigned width, unsigned height, unsigned channels, unsigned bit_depth);

// The render's "params" the plug-in sends at its default slider values:
// brightness, contrast and saturation 1.0 (Float), enable_effect true (Bool),
// type 1 (Int).
Dict defaultRenderParams();

// Values of the plug-in's parameters that change a frame: brightness 1.15,
// contrast 1.3, saturation 1.6.
Dict workingParamValues();

// The render's "args" without the image, as the plug-in sends them:
// `params` and "instance_id".
Dict renderArgs(const Dict& params);

// The whole "call_plugin" message for "render" of `image_dict` (an image
// dictionary, or a malformed one) with `params`, under the job identifier
// `job_id`.
Dict renderCall(const std::string& job_id, Dict image_dict, const Dict& params);

// A call of a plug-in function the server cannot know.
Dict unknownFunctionCall(const std::string& job_id, const Dict& params);

// Image dictionaries of a width x height 8-bit frame that no server can
// render, each with what is wrong with it.
struct MalformedImage {
    std::string what;
    Dict image;
};
std::vector<MalformedImage> malformedImages(unsigned short width, unsigned short height);

// "WxHxC at D bits" for reports.
std::string geometry(const Image& image);

}  // namespace Conform
}  // namespace TEV
