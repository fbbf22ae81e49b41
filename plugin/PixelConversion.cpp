// The six pixel functions, built from one copy routine per direction.
#include "PixelConversion.h"

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <vector>

namespace TEV {
namespace Adobe {

namespace {

// Views of the image's samples, each with its sample count.
struct Bytes8 {
    unsigned char* data;
    std::size_t count;
    A_u_char get(std::size_t i) const { return data[i]; }
    void set(std::size_t i, A_u_char v) { data[i] = v; }
};
struct Bytes16 {  // native-order 16-bit values in the byte store
    unsigned char* data;
    std::size_t count;
    A_u_short get(std::size_t i) const {
        A_u_short v;
        std::memcpy(&v, data + 2 * i, sizeof v);
        return v;
    }
    void set(std::size_t i, A_u_short v) { std::memcpy(data + 2 * i, &v, sizeof v); }
};
struct Floats {
    float* data;
    std::size_t count;
    float get(std::size_t i) const { return data[i]; }
    void set(std::size_t i, float v) { data[i] = v; }
};

Image& imageOf(void* refcon) { return *static_cast<Image*>(refcon); }

Bytes8 bytes8(Image& image, const char* mismatch) {
    auto* bytes = std::get_if<std::vector<unsigned char>>(&image.pixels);
    if (bytes == nullptr) throw PixelStorageMismatch(mismatch);
    return {bytes->data(), bytes->size()};
}

Floats floats(Image& image, const char* mismatch) {
    auto* samples = std::get_if<std::vector<float>>(&image.pixels);
    if (samples == nullptr) throw PixelStorageMismatch(mismatch);
    return {samples->data(), samples->size()};
}

// The pixel functions run once per pixel of every frame, twice per frame:
// the image's fields are read once into locals, before any sample is written
// (a byte store may alias them, which would make the compiler read them again).

// First sample of pixel (x, y) in a store of `count` samples, or false when
// the pixel lies outside the image or a sample it uses lies beyond the store.
// Computed in 64 bits: y * width + x stays below 2^47 and times channels
// below 2^63, so adding the samples used cannot wrap.
inline bool locate(std::size_t width, std::size_t channels, A_long x, A_long y, std::size_t count, std::size_t& first) {
    if ((x | y) < 0) return false;
    first = (std::size_t(y) * width + std::size_t(x)) * channels;
    const std::size_t used = channels == 4 ? 4 : 3;
    return first + used <= count;
}

// Calls f with the channel count: as a constant for the frames the render
// bridge makes (3 channels), so that the compiler folds it into the
// addressing, and as a value otherwise.
template <class F>
void byChannels(std::size_t channels, F f) {
    if (channels == 3)
        f(std::integral_constant<std::size_t, 3>());
    else
        f(channels);
}

template <class Pixel, class Samples, class Convert>
void pixelToImage(const Image& image, Samples samples, A_long x, A_long y, const Pixel& in,
                  Convert convert) {
    byChannels(image.channels, [&](auto channels) {
        std::size_t i;
        if (!locate(image.width, channels, x, y, samples.count, i)) return;
        samples.set(i, convert(in.red));
        samples.set(i + 1, convert(in.green));
        samples.set(i + 2, convert(in.blue));
        if (channels == 4) samples.set(i + 3, convert(in.alpha));
    });
}

template <class Pixel, class Samples, class Convert, class Channel>
void imageToPixel(const Image& image, Samples samples, A_long x, A_long y, Pixel& out,
                  Convert convert, Channel opaque) {
    byChannels(image.channels, [&](auto channels) {
        std::size_t i;
        if (!locate(image.width, channels, x, y, samples.count, i)) {
            out = Pixel{};  // transparent black: no sample to show
            return;
        }
        out.red = convert(samples.get(i));
        out.green = convert(samples.get(i + 1));
        out.blue = convert(samples.get(i + 2));
        out.alpha = channels == 4 ? convert(samples.get(i + 3)) : opaque;
    });
}

const auto same = [](auto v) { return v; };

constexpr const char* kFloatFor8In =
    "World2Image8: the image has float storage, 8-bit pixels need byte storage";
constexpr const char* kFloatFor8Out =
    "Image2World8: the image has float storage, 8-bit pixels need byte storage";
constexpr const char* kBytesFor32In =
    "World2Image32: the image has byte storage, float pixels need float storage";
constexpr const char* kBytesFor32Out =
    "Image2World32: the image has byte storage, float pixels need float storage";

// 16-bit channel <-> float sample; 2^-15 keeps the division exact.
float floatFrom16(A_u_short v) { return v * 0.000030517578125f; }
A_u_short sixteenFromFloat(float v) {
    const float scaled = v * float(PF_MAX_CHAN16);
    if (!(scaled > 0.0f)) return 0;  // negative or not a number
    if (scaled >= float(PF_MAX_CHAN16)) return PF_MAX_CHAN16;
    return static_cast<A_u_short>(scaled);
}

}  // namespace

PF_Err World2Image8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel*) {
    Image& image = imageOf(refcon);
    pixelToImage(image, bytes8(image, kFloatFor8In), x, y, *in, same);
    return PF_Err_NONE;
}

PF_Err World2Image16(void* refcon, A_long x, A_long y, PF_Pixel16* in, PF_Pixel16*) {
    Image& image = imageOf(refcon);
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels))
        pixelToImage(image, Floats{f->data(), f->size()}, x, y, *in, floatFrom16);
    else {
        auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
        pixelToImage(image, Bytes16{bytes.data(), bytes.size() / 2}, x, y, *in, same);
    }
    return PF_Err_NONE;
}

PF_Err World2Image32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat*) {
    Image& image = imageOf(refcon);
    pixelToImage(image, floats(image, kBytesFor32In), x, y, *in, same);
    return PF_Err_NONE;
}

PF_Err Image2World8(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
    Image& image = imageOf(refcon);
    imageToPixel(image, bytes8(image, kFloatFor8Out), x, y, *out, same, A_u_char(PF_MAX_CHAN8));
    return PF_Err_NONE;
}

PF_Err Image2World16(void* refcon, A_long x, A_long y, PF_Pixel16*, PF_Pixel16* out) {
    Image& image = imageOf(refcon);
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels))
        imageToPixel(image, Floats{f->data(), f->size()}, x, y, *out, sixteenFromFloat,
                     A_u_short(PF_MAX_CHAN16));
    else {
        auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
        imageToPixel(image, Bytes16{bytes.data(), bytes.size() / 2}, x, y, *out, same,
                     A_u_short(PF_MAX_CHAN16));
    }
    return PF_Err_NONE;
}

PF_Err Image2World32(void* refcon, A_long x, A_long y, PF_PixelFloat*, PF_PixelFloat* out) {
    Image& image = imageOf(refcon);
    imageToPixel(image, floats(image, kBytesFor32Out), x, y, *out, same, PF_FpShort(1.0f));
    return PF_Err_NONE;
}

}  // namespace Adobe
}  // namespace TEV
