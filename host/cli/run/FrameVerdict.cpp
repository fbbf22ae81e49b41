#include "run/FrameVerdict.h"

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

bool sameColour(const PixelWorld& a, const PixelWorld& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.depth() != b.depth()) return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.depth() == 8) {
                const PF_Pixel &p = a.pixel8(x, y), &q = b.pixel8(x, y);
                if (p.red != q.red || p.green != q.green || p.blue != q.blue) return false;
            } else if (a.depth() == 16) {
                const PF_Pixel16 &p = a.pixel16(x, y), &q = b.pixel16(x, y);
                if (p.red != q.red || p.green != q.green || p.blue != q.blue) return false;
            } else {
                const PF_PixelFloat &p = a.pixelFloat(x, y), &q = b.pixelFloat(x, y);
                if (!sameBits(p.red, q.red) || !sameBits(p.green, q.green) || !sameBits(p.blue, q.blue)) return false;
            }
        }
    }
    return true;
}

Verdict judgeFrame(const PixelWorld& input, const PixelWorld& output, float downsample,
                   const std::vector<std::string>& log_messages) {
    Verdict verdict;
    if (sameColour(input, output)) {
        verdict.outcome = Outcome::Unchanged;
        return verdict;
    }
    for (const OverlayText& candidate : overlayCandidates(log_messages)) {
        if (showsOverlay(input, output, candidate, downsample)) {
            verdict.outcome = Outcome::Overlay;
            verdict.overlay = candidate;
            return verdict;
        }
    }
    return verdict;
}

}  // namespace TEV::Host::Cli
