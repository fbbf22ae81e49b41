// PixelWorld: an owned pixel buffer with the host's world record, at 8, 16
// (0..32768) or 32-bit float per channel, with real row padding. Move-only;
// the PF_EffectWorld record and the pixels keep their addresses across moves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "AE_Effect.h"
#include "AE_EffectPixelFormat.h"

namespace TEV::Host {

// One pixel with channels as floats: 0..1 nominal at every depth (16-bit
// channels are divided by 32768, 8-bit by 255).
struct Rgba {
    float r = 0, g = 0, b = 0, a = 0;
};

class PixelWorld {
public:
    // Bytes added to every row beyond width × pixel size unless asked otherwise.
    static constexpr int kDefaultRowPadding = 24;
    // Value of every padding byte; paddingIntact() checks it.
    static constexpr std::uint8_t kPaddingByte = 0xA5;

    // An empty world (0 × 0, depth 8).
    PixelWorld();
    // A zero-filled world. depth is 8, 16 or 32; row_padding >= 0 bytes. Bad
    // arguments throw HostError.
    PixelWorld(int width, int height, int depth, int row_padding = kDefaultRowPadding);
    PixelWorld(PixelWorld&&) noexcept;
    PixelWorld& operator=(PixelWorld&&) noexcept;
    ~PixelWorld();

    int width() const;
    int height() const;
    int depth() const;            // bits per channel: 8, 16 or 32
    int pixelSize() const;        // 4, 8 or 16 bytes
    std::size_t rowbytes() const; // > width × pixelSize() when padded
    bool empty() const;

    // The world record handed to plug-ins. Marked writeable when `writeable`.
    PF_EffectWorld* world();
    const PF_EffectWorld* world() const;
    void setWriteable(bool writeable);

    // Typed pixel access; the depth must match (HostError otherwise), x and y in range.
    PF_Pixel& pixel8(int x, int y);
    PF_Pixel16& pixel16(int x, int y);
    PF_PixelFloat& pixelFloat(int x, int y);
    const PF_Pixel& pixel8(int x, int y) const;
    const PF_Pixel16& pixel16(int x, int y) const;
    const PF_PixelFloat& pixelFloat(int x, int y) const;

    // Depth-independent access: channels scaled to 0..1 (set() clamps and
    // rounds for 8 and 16 bits; float stores the value unchanged).
    Rgba get(int x, int y) const;
    void set(int x, int y, const Rgba& value);
    void fill(const Rgba& value);
    // Fills every pixel with a value derived from (x, y): distinct colours for
    // distinct pixels up to 256 × 256 at every depth.
    void fillGradient();

    // A new world at `depth` with the same size and padding, pixel by pixel
    // through get()/set().
    PixelWorld convertedTo(int depth) const;
    // True when every padding byte still holds kPaddingByte.
    bool paddingIntact() const;
    // The format code of the depth ('argb', 'ae16', 'ae32').
    PF_PixelFormat pixelFormat() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    void* at(int x, int y, int expected_depth) const;
};

// The depth of a world that a PixelWorld owns (any live one in the process),
// or 0 for a world the host does not know.
int knownWorldDepth(const PF_EffectWorld* world);

}  // namespace TEV::Host
