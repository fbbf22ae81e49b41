// resultMismatch: does a result image fit the output world?
#include "ResultFit.h"

#include <sstream>
#include <variant>
#include <vector>

std::string resultMismatch(const TEV::Image& result, A_long width, A_long height, int bit_depth) {
    std::ostringstream why;
    if (result.width != width || result.height != height) {
        why << "Result image is " << result.width << "x" << result.height << ", the frame is " << width << "x"
            << height;
        return why.str();
    }
    if (result.channels != 3 && result.channels != 4) {
        why << "Result image has " << result.channels << " channels, 3 or 4 expected";
        return why.str();
    }
    const bool float_store = std::holds_alternative<std::vector<float>>(result.pixels);
    const std::size_t samples = std::size_t(width) * std::size_t(height) * result.channels;
    const std::size_t held = float_store ? std::get<std::vector<float>>(result.pixels).size()
                                         : std::get<std::vector<unsigned char>>(result.pixels).size();
    bool fits = false;
    if (bit_depth == 8) fits = !float_store && result.bit_depth == 8 && held == samples;
    if (bit_depth == 16)
        fits = (!float_store && result.bit_depth == 16 && held == samples * 2) ||
               (float_store && result.bit_depth == 32 && held == samples);
    if (bit_depth == 32) fits = float_store && result.bit_depth == 32 && held == samples;
    if (fits) return std::string();
    why << "Result image holds " << held << (float_store ? " floats" : " bytes") << " at " << result.bit_depth
        << " bits; a " << bit_depth << "-bit frame needs " << samples << " samples";
    return why.str();
}
