// Internal: the drawing primitives' view of an image's samples. One template
// serves the three sample formats; the format supplies the sample type and
// the value of full intensity.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "TEV.h"

namespace TEV {
namespace detail {

struct Byte8Format {  // byte storage, one byte per sample
    using Sample = std::uint8_t;
    static constexpr float full = 255.0f;
};
struct Byte16Format {  // byte storage, one native-order uint16 per sample
    using Sample = std::uint16_t;
    static constexpr float full = 32768.0f;
};
struct FloatFormat {  // float storage
    using Sample = float;
    static constexpr float full = 1.0f;
};

// Samples of an image seen as numbers on the format's scale. Every pixel
// access is checked against the store first: a pixel whose samples would lie
// beyond it is not touched.
template <class Format>
class Canvas {
public:
    using Sample = typename Format::Sample;
    static constexpr bool integral = std::numeric_limits<Sample>::is_integer;

    Canvas(unsigned char* data, std::size_t samples, const Image& image)
        : data_(data), samples_(samples), width_(image.width), height_(image.height),
          channels_(image.channels) {}

    long long width() const { return width_; }
    long long height() const { return height_; }
    // Colour samples per pixel (red, green, blue): the first min(channels, 3).
    unsigned colourSamples() const { return std::min<unsigned>(channels_, 3u); }
    bool hasAlpha() const { return channels_ == 4; }

    // Index of the first sample of pixel (x, y), which must lie in the image,
    // or npos when any of the pixel's samples lies beyond the store.
    std::size_t pixelIndex(long long x, long long y) const {
        const std::size_t first = (std::size_t(y) * width_ + std::size_t(x)) * channels_;
        if (channels_ == 0 || first + channels_ > samples_) return npos;
        return first;
    }

    float load(std::size_t i) const {
        Sample s;
        std::memcpy(&s, data_ + i * sizeof(Sample), sizeof(Sample));
        return static_cast<float>(s);
    }

    // Integer formats truncate toward zero and limit to the sample type's
    // range (not-a-number gives 0); float stores the value as it is.
    void store(std::size_t i, float v) {
        Sample s;
        if constexpr (integral) {
            constexpr float top = float(std::numeric_limits<Sample>::max());
            s = !(v > 0.0f) ? Sample(0) : v >= top ? Sample(top) : Sample(v);
        } else {
            s = v;
        }
        std::memcpy(data_ + i * sizeof(Sample), &s, sizeof(Sample));
    }

    // A colour component (0..1) on this scale: trunc(c * full) for integers.
    static float level(float component) {
        const float v = component * Format::full;
        return integral ? std::trunc(v) : v;
    }

    static constexpr std::size_t npos = std::size_t(-1);

private:
    unsigned char* data_;
    std::size_t samples_;
    std::size_t width_, height_, channels_;
};

// A colour completed with 1.0 up to four components.
inline std::vector<float> completeColour(const std::vector<float>& colour) {
    std::vector<float> c(colour);
    if (c.size() < 4) c.resize(4, 1.0f);
    return c;
}

// Calls fn(Canvas<Format>&) with the canvas matching the image's store.
template <class Fn>
void withCanvas(Image& image, Fn&& fn) {
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels)) {
        Canvas<FloatFormat> canvas(reinterpret_cast<unsigned char*>(f->data()), f->size(), image);
        fn(canvas);
        return;
    }
    auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
    if (image.bit_depth == 16) {
        Canvas<Byte16Format> canvas(bytes.data(), bytes.size() / 2, image);
        fn(canvas);
    } else {
        Canvas<Byte8Format> canvas(bytes.data(), bytes.size(), image);
        fn(canvas);
    }
}

}  // namespace detail
}  // namespace TEV
