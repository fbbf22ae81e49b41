// Frames and render messages for the checks.
#include "Frames.h"

#include <cstdint>
#include <cstring>

namespace TEV {
namespace Conform {

namespace {

// One instance of the effect for the whole run, as one applied effect would be.
const std::string& instanceId() {
    static const std::string id = generate_uuid();
    return id;
}

// A value in [0.25, 0.75) that varies with position and channel.
float patternAt(std::size_t sample) { return 0.25f + 0.5f * static_cast<float>((sample * 37) % 101) / 101.0f; }

}  // namespace

Image makeFrame(unsigned short width, unsigned short height, unsigned short channels, unsigned short bit_depth) {
    Image image(width, height, channels, bit_depth, 1.0f, static_cast<unsigned short>(width * 4 * (bit_depth / 8)),
                1.0f);
    const std::size_t samples = image.sampleCount();
    if (auto* floats = std::get_if<std::vector<float>>(&image.pixels)) {
        for (std::size_t i = 0; i < samples; ++i) (*floats)[i] = patternAt(i);
    } else if (bit_depth == 16) {
        auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
        for (std::size_t i = 0; i < samples; ++i) {
            const auto v = static_cast<std::uint16_t>(patternAt(i) * 32768.0f);
            std::memcpy(bytes.data() + 2 * i, &v, 2);  // native order, as the plug-in sends them
        }
    } else {
        auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
        for (std::size_t i = 0; i < samples; ++i) bytes[i] = static_cast<unsigned char>(patternAt(i) * 255.0f);
    }
    return image;
}

std::size_t pixelBytes(unsigned width, unsigned height, unsigned channels, unsigned bit_depth) {
    const std::size_t per_sample = bit_depth == 32 ? 4 : bit_depth == 16 ? 2 : 1;
    return std::size_t(width) * height * channels * per_sample;
}

Dict defaultRenderParams() {
    Dict params;
    params["brightness"] = 1.0;
    params["contrast"] = 1.0;
    params["saturation"] = 1.0;
    params["enable_effect"] = true;
    params["type"] = 1LL;
    return params;
}

Dict workingParamValues() {
    Dict values;
    values["brightness"] = 1.15;
    values["contrast"] = 1.3;
    values["saturation"] = 1.6;
    return values;
}

Dict renderArgs(const Dict& params) {
    Dict args;
    args["params"] = params;
    args["instance_id"] = instanceId();
    return args;
}

Dict renderCall(const std::string& job_id, Dict image_dict, const Dict& params) {
    Dict call;
    call["method"] = "call_plugin";
    call["method_version"] = 1;
    call["function_name"] = "render";
    Dict args = renderArgs(params);
    args["image"] = std::move(image_dict);
    call["args"] = std::move(args);
    call["request_id"] = job_id;
    return call;
}

Dict unknownFunctionCall(const std::string& job_id, const Dict& params) {
    Dict call;
    call["method"] = "call_plugin";
    call["method_version"] = 1;
    call["function_name"] = "tev_conform_no_such_function";
    call["args"] = renderArgs(params);
    call["request_id"] = job_id;
    return call;
}

std::vector<MalformedImage> malformedImages(unsigned short width, unsigned short height) {
    const std::size_t bytes = pixelBytes(width, height, 3, 8);
    Dict short_block(makeFrame(width, height, 3, 8));
    short_block["pixels"] = Dict(std::vector<char>(bytes > 100 ? bytes - 100 : 0, 'x'));
    Dict odd_depth(makeFrame(width, height, 3, 8));
    odd_depth["bit_depth"] = 12;
    std::vector<MalformedImage> images;
    images.push_back({"a pixel block 100 bytes short", std::move(short_block)});
    images.push_back({"bit_depth 12", std::move(odd_depth)});
    return images;
}

std::string geometry(const Image& image) {
    return std::to_string(image.width) + "x" + std::to_string(image.height) + "x" + std::to_string(image.channels) +
           " at " + std::to_string(image.bit_depth) + " bits";
}

}  // namespace Conform
}  // namespace TEV
