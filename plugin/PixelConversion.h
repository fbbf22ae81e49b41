// Pixel functions for the host's iterate suites: copy one pixel between a
// host world and a TEV::Image (passed as the reference constant).
//
// Image samples are interleaved R, G, B (, A when channels is 4) and
// addressed with the image's own width: pixel (x, y) starts at sample
// (y * width + x) * channels. Host channels keep their values; only 16-bit
// worlds meet float storage, scaled by 1/32768 one way and by 32768 (limited
// to 0..32768, truncated) the other. No premultiplication, no colour space.
//
// Out-of-range pixels: a pixel at a negative x or y, or one whose samples
// would lie beyond the image's storage, is never read or written in the
// image. World2Image then leaves the image alone; Image2World writes
// transparent black (all four channels 0) to the destination.
//
// The host may call these from several threads at once for different pixels.
// They return PF_Err_NONE whenever they return.
#pragma once

#include <variant>

#include "AE_Effect.h"
#include "TEV.h"

namespace TEV {
namespace Adobe {

// The image's storage does not suit the pixel function (float storage for
// an 8-bit world, byte storage for a float world). Derives from the
// standard accessor's exception, with a message naming the function.
class PixelStorageMismatch : public std::bad_variant_access {
public:
    explicit PixelStorageMismatch(const char* message) noexcept : message_(message) {}
    const char* what() const noexcept override { return message_; }

private:
    const char* message_;  // a string literal
};

// Host pixel -> image. Byte storage only; throws PixelStorageMismatch otherwise.
PF_Err World2Image8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
// Host pixel -> image: byte storage holds the 16-bit values as they are,
// float storage value / 32768.
PF_Err World2Image16(void* refcon, A_long x, A_long y, PF_Pixel16* in, PF_Pixel16* out);
// Host pixel -> image. Float storage only; throws PixelStorageMismatch otherwise.
PF_Err World2Image32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);

// Image -> host pixel; alpha 255 without an alpha sample. Byte storage only;
// throws PixelStorageMismatch otherwise.
PF_Err Image2World8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
// Image -> host pixel; alpha 32768 without an alpha sample. Byte storage
// values are copied unclamped; float samples scale by 32768, limited to
// 0..32768 (not-a-number gives 0) and truncated.
PF_Err Image2World16(void* refcon, A_long x, A_long y, PF_Pixel16* in, PF_Pixel16* out);
// Image -> host pixel, unclamped; alpha 1.0 without an alpha sample. Float
// storage only; throws PixelStorageMismatch otherwise.
PF_Err Image2World32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);

}  // namespace Adobe
}  // namespace TEV
