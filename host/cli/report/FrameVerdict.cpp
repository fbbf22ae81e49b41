#include "report/FrameVerdict.h"

#include <cstring>

#include "TEV_Image.h"

namespace TEV::Host::Cli {

namespace {

// The frame as the plug-in sends it: three channels at the world's depth.
TEV::Image imageOf(const PixelWorld& world, float downsample) {
    const int depth = world.depth();
    TEV::Image image(static_cast<unsigned short>(world.width()), static_cast<unsigned short>(world.height()), 3,
                     static_cast<unsigned short>(depth), 1.0f, static_cast<unsigned short>(world.rowbytes()),
                     downsample);
    std::size_t i = 0;
    for (int y = 0; y < world.height(); ++y) {
        for (int x = 0; x < world.width(); ++x, i += 3) {
            if (depth == 8) {
                const PF_Pixel& p = world.pixel8(x, y);
                auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
                bytes[i] = p.red, bytes[i + 1] = p.green, bytes[i + 2] = p.blue;
            } else if (depth == 16) {
                const PF_Pixel16& p = world.pixel16(x, y);
                const std::uint16_t rgb[3] = {p.red, p.green, p.blue};
                std::memcpy(std::get<std::vector<unsigned char>>(image.pixels).data() + i * 2, rgb, sizeof rgb);
            } else {
                const PF_PixelFloat& p = world.pixelFloat(x, y);
                auto& floats = std::get<std::vector<float>>(image.pixels);
                floats[i] = p.red, floats[i + 1] = p.green, floats[i + 2] = p.blue;
            }
        }
    }
    return image;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

bool showsOverlay(const PixelWorld& input, const PixelWorld& output, const OverlayText& overlay, float downsample) {
    if (input.width() != output.width() || input.height() != output.height() || input.depth() != output.depth()) {
        return false;
    }
    TEV::Image image = imageOf(input, downsample);
    TEV::writeOnImage(image, overlay.line1, overlay.line2, overlay.line3, true, downsample);
    std::size_t i = 0;
    for (int y = 0; y < output.height(); ++y) {
        for (int x = 0; x < output.width(); ++x, i += 3) {
            if (output.depth() == 8) {
                const PF_Pixel& p = output.pixel8(x, y);
                const auto& s = std::get<std::vector<unsigned char>>(image.pixels);
                if (p.red != s[i] || p.green != s[i + 1] || p.blue != s[i + 2] || p.alpha != 255) return false;
            } else if (output.depth() == 16) {
                const PF_Pixel16& p = output.pixel16(x, y);
                std::uint16_t s[3];
                std::memcpy(s, std::get<std::vector<unsigned char>>(image.pixels).data() + i * 2, sizeof s);
                if (p.red != s[0] || p.green != s[1] || p.blue != s[2] || p.alpha != 32768) return false;
            } else {
                const PF_PixelFloat& p = output.pixelFloat(x, y);
                const auto& s = std::get<std::vector<float>>(image.pixels);
                if (!sameBits(p.red, s[i]) || !sameBits(p.green, s[i + 1]) || !sameBits(p.blue, s[i + 2]) ||
                    p.alpha != 1.0f)
                    return false;
            }
        }
    }
    return true;
}

namespace {

bool sameSample(float a, float b) { return sameBits(a, b); }
bool sameSample(A_u_short a, A_u_short b) { return a == b; }
bool sameSample(A_u_char a, A_u_char b) { return a == b; }

// Colour of rows [begin, end) equal in both worlds (same size and depth).
template <typename Pixel>
bool sameRows(const PixelWorld& a, const PixelWorld& b, int begin, int end, Pixel& (PixelWorld::*at)(int, int) const) {
    for (int y = begin; y < end; ++y) {
        const Pixel* p = &(a.*at)(0, y);
        const Pixel* q = &(b.*at)(0, y);
        for (int x = 0; x < a.width(); ++x) {
            if (!sameSample(p[x].red, q[x].red) || !sameSample(p[x].green, q[x].green) ||
                !sameSample(p[x].blue, q[x].blue))
                return false;
        }
    }
    return true;
}

bool sameColourRows(const PixelWorld& a, const PixelWorld& b, int begin, int end) {
    switch (a.depth()) {
    case 8: return sameRows<const PF_Pixel>(a, b, begin, end, &PixelWorld::pixel8);
    case 16: return sameRows<const PF_Pixel16>(a, b, begin, end, &PixelWorld::pixel16);
    default: return sameRows<const PF_PixelFloat>(a, b, begin, end, &PixelWorld::pixelFloat);
    }
}

// True when the band's clear columns of `output` hold `input` darkened as the
// overlay darkens it, opaque: the sign of the overlay that needs no message.
bool darkenedStrip(const PixelWorld& input, const PixelWorld& output, const TEV::OverlayBand& band) {
    const int width = band.clear_columns, rows = band.band_end - band.band_begin;
    if (width <= 0 || rows <= 0) return false;
    const int depth = input.depth();
    TEV::Image strip(static_cast<unsigned short>(width), static_cast<unsigned short>(rows), 3,
                     static_cast<unsigned short>(depth), 1.0f, 0, 1.0f);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t i = (std::size_t(y) * width + x) * 3;
            if (depth == 8) {
                const PF_Pixel& q = input.pixel8(x, band.band_begin + y);
                auto& s = std::get<std::vector<unsigned char>>(strip.pixels);
                s[i] = q.red, s[i + 1] = q.green, s[i + 2] = q.blue;
            } else if (depth == 16) {
                const PF_Pixel16& q = input.pixel16(x, band.band_begin + y);
                const std::uint16_t rgb[3] = {q.red, q.green, q.blue};
                std::memcpy(std::get<std::vector<unsigned char>>(strip.pixels).data() + i * 2, rgb, sizeof rgb);
            } else {
                const PF_PixelFloat& q = input.pixelFloat(x, band.band_begin + y);
                auto& s = std::get<std::vector<float>>(strip.pixels);
                s[i] = q.red, s[i + 1] = q.green, s[i + 2] = q.blue;
            }
        }
    }
    TEV::darkenRows(strip, 0, rows);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t i = (std::size_t(y) * width + x) * 3;
            if (depth == 8) {
                const PF_Pixel& p = output.pixel8(x, band.band_begin + y);
                const auto& s = std::get<std::vector<unsigned char>>(strip.pixels);
                if (p.red != s[i] || p.green != s[i + 1] || p.blue != s[i + 2] || p.alpha != 255) return false;
            } else if (depth == 16) {
                const PF_Pixel16& p = output.pixel16(x, band.band_begin + y);
                std::uint16_t s[3];
                std::memcpy(s, std::get<std::vector<unsigned char>>(strip.pixels).data() + i * 2, sizeof s);
                if (p.red != s[0] || p.green != s[1] || p.blue != s[2] || p.alpha != 32768) return false;
            } else {
                const PF_PixelFloat& p = output.pixelFloat(x, band.band_begin + y);
                const auto& s = std::get<std::vector<float>>(strip.pixels);
                if (!sameBits(p.red, s[i]) || !sameBits(p.green, s[i + 1]) || !sameBits(p.blue, s[i + 2]) ||
                    p.alpha != 1.0f)
                    return false;
            }
        }
    }
    return true;
}

}  // namespace

bool sameColour(const PixelWorld& a, const PixelWorld& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.depth() != b.depth()) return false;
    return sameColourRows(a, b, 0, a.height());
}

Verdict judgeFrame(const PixelWorld& input, const PixelWorld& output, float downsample,
                   const std::vector<std::string>& log_messages) {
    Verdict verdict;
    if (input.width() != output.width() || input.height() != output.height() || input.depth() != output.depth()) {
        return verdict;
    }
    // The plug-in draws nothing on a frame reduced below 1/10.
    const TEV::OverlayBand band = downsample >= 0.1f ? TEV::overlayBand(output.width(), output.height(), downsample)
                                                     : TEV::OverlayBand{0, 0, 0};
    // A processed frame differs already in its first rows: this returns at once.
    if (!sameColourRows(input, output, 0, band.band_begin) ||
        !sameColourRows(input, output, band.band_end, output.height())) {
        return verdict;
    }
    if (sameColourRows(input, output, band.band_begin, band.band_end)) {
        verdict.state = FrameState::Unchanged;
        return verdict;
    }
    if (!darkenedStrip(input, output, band)) return verdict;
    verdict.state = FrameState::Overlay;
    for (const OverlayText& candidate : overlayCandidates(log_messages)) {
        if (showsOverlay(input, output, candidate, downsample)) {
            verdict.overlay = candidate;
            return verdict;
        }
    }
    return verdict;
}

}  // namespace TEV::Host::Cli
