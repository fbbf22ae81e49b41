#include "files/SampleScale.h"

#include <algorithm>
#include <cmath>

namespace TEV::Host::Cli {

std::uint16_t fileToHost16(std::uint16_t file_value) {
    // 65535 is odd, so no value lies exactly halfway: this is round to nearest.
    return static_cast<std::uint16_t>((std::uint32_t(file_value) * 32768u + 32767u) / 65535u);
}

std::uint16_t hostToFile16(std::uint16_t host_value) {
    const std::uint32_t v = std::min<std::uint32_t>(host_value, 32768u);
    return static_cast<std::uint16_t>((v * 65535u + 16384u) / 32768u);
}

std::uint16_t floatToFile(float value, int bits) {
    const float full = bits == 16 ? 65535.0f : 255.0f;
    if (!(value > 0.0f)) {
        return 0;  // negative and NaN
    }
    return static_cast<std::uint16_t>(std::lround(std::min(value, 1.0f) * full));
}

void worldToFileSamples(const PixelWorld& world, int x, int y, int bits, std::uint16_t rgba[4]) {
    if (world.depth() == 8 && bits == 8) {
        const PF_Pixel& p = world.pixel8(x, y);
        rgba[0] = p.red, rgba[1] = p.green, rgba[2] = p.blue, rgba[3] = p.alpha;
    } else if (world.depth() == 16 && bits == 16) {
        const PF_Pixel16& p = world.pixel16(x, y);
        rgba[0] = hostToFile16(p.red), rgba[1] = hostToFile16(p.green);
        rgba[2] = hostToFile16(p.blue), rgba[3] = hostToFile16(p.alpha);
    } else {
        const Rgba p = world.get(x, y);
        rgba[0] = floatToFile(p.r, bits), rgba[1] = floatToFile(p.g, bits);
        rgba[2] = floatToFile(p.b, bits), rgba[3] = floatToFile(p.a, bits);
    }
}

}  // namespace TEV::Host::Cli
