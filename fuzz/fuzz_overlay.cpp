// writeOnImage with arbitrary lines (any bytes), geometry up to 512x512,
// any channel count up to 5, each storage kind, a store that may not match
// the geometry, and any scale and downsample (not-a-number, infinities and
// negative values included).
//
// Input: a 19-byte header, then the text of the three lines.
//   0-1 width, 2-3 height (little-endian, modulo 513)   4 channels (modulo 6)
//   5   storage: 0 8-bit bytes, 1 16-bit bytes, 2 floats (modulo 3)
//   6   bit 0 darken, bit 1 resize the store to the sample count in 15-16
//   7-10 scale, 11-14 image downsample (float bits)
//   17, 18 byte lengths of lines 1 and 2 (cut to what is left); line 3 is the rest
//
// Beyond memory safety it checks that the store keeps its kind and size,
// that samples stay on their scale (0..32768 for 16 bits, 0..1 for floats,
// the range the image started in), and that a downsample below 0.1 leaves
// the image untouched.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "TEV_Image.h"

namespace {

constexpr std::size_t kHeader = 19;

unsigned readU16(const std::uint8_t* p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }
float readFloat(const std::uint8_t* p) {
    float f;
    std::memcpy(&f, p, sizeof f);
    return f;
}

// Samples on the image's scale in a fixed pattern, so that darkening and
// blending have something to change.
FUZZ_NO_COVERAGE void fill(TEV::Image& image) {
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels)) {
        for (std::size_t k = 0; k < f->size(); ++k) (*f)[k] = float(k * 37 % 256) / 255.0f;
        return;
    }
    auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
    if (image.bit_depth == 16) {
        for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
            const std::uint16_t v = std::uint16_t(k * 1237 % 32769);
            std::memcpy(&bytes[k], &v, 2);
        }
        return;
    }
    for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<unsigned char>(k * 37);
}

FUZZ_NO_COVERAGE void checkScale(const TEV::Image& image) {
    if (const auto* f = std::get_if<std::vector<float>>(&image.pixels)) {
        for (float v : *f) FUZZ_CHECK(v >= 0.0f && v <= 1.0f, "float samples stay within 0..1");
        return;
    }
    if (image.bit_depth != 16) return;
    const auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
    for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
        std::uint16_t v;
        std::memcpy(&v, &bytes[k], 2);
        FUZZ_CHECK(v <= 32768, "16-bit samples stay within 0..32768");
    }
}

std::size_t storeBytes(const TEV::Image& image) {
    if (const auto* f = std::get_if<std::vector<float>>(&image.pixels)) return f->size() * sizeof(float);
    return std::get<std::vector<unsigned char>>(image.pixels).size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeader) return 0;
    static const unsigned short kDepths[] = {8, 16, 32};
    const auto width = static_cast<unsigned short>(readU16(data) % 513);
    const auto height = static_cast<unsigned short>(readU16(data + 2) % 513);
    const auto channels = static_cast<unsigned short>(data[4] % 6);
    const unsigned short bit_depth = kDepths[data[5] % 3];
    const bool darken = data[6] & 1;
    const bool resize_store = data[6] & 2;
    const float scale = readFloat(data + 7);
    const float downsample = readFloat(data + 11);

    TEV::Image image(width, height, channels, bit_depth, 1.0f, 0, downsample);
    if (resize_store) {
        const std::size_t samples = readU16(data + 15);
        if (auto* f = std::get_if<std::vector<float>>(&image.pixels))
            f->resize(samples);
        else
            std::get<std::vector<unsigned char>>(image.pixels).resize(bit_depth == 16 ? 2 * samples : samples);
    }
    fill(image);

    const char* text = reinterpret_cast<const char*>(data + kHeader);
    const std::size_t left = size - kHeader;
    const std::size_t n1 = std::min<std::size_t>(data[17], left);
    const std::size_t n2 = std::min<std::size_t>(data[18], left - n1);
    const std::string line1(text, n1), line2(text + n1, n2), line3(text + n1 + n2, left - n1 - n2);

    const TEV::Image before = image;
    TEV::writeOnImage(image, line1, line2, line3, darken, scale);

    FUZZ_CHECK(image.pixels.index() == before.pixels.index(), "the store keeps its kind");
    FUZZ_CHECK(storeBytes(image) == storeBytes(before), "the store keeps its size");
    checkScale(image);
    if (downsample < 0.1f) FUZZ_CHECK(image.pixels == before.pixels, "a downsample below 0.1 draws nothing");
    return 0;
}
