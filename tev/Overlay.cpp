// writeOnImage: the failure overlay (band, disc, three lines of text).
#include <algorithm>
#include <cmath>

#include "DrawingCanvas.h"
#include "TEV_Image.h"

namespace TEV {

namespace {

// Overlay geometry in pixels. Sizes follow the square root of the image's
// width times the scale, so the overlay looks alike at every preview size.
struct OverlayLayout {
    int title, second, third;  // pixel heights of lines 1..3
    int margin, gap, block;    // block = everything from line 1's top to line 3's bottom plus gaps
    int top;                   // top of line 1; negative when the block is taller than the image
    int radius, disc_x, disc_y;
    int text_x;
    int band_begin, band_end;  // darkened rows [begin, end)
};

OverlayLayout layoutFor(int width, int height, float scale) {
    OverlayLayout l;
    const float t = 74.0f * std::sqrt(static_cast<float>(width) * scale / 1920.0f);
    // Not-a-number (a negative or NaN scale) takes the minimum; the cap keeps
    // every later sum far from int overflow.
    l.title = !(t >= 16.0f) ? 16 : t > kMaxTextPixelHeight ? int(kMaxTextPixelHeight) : int(t);
    l.second = std::max(12, static_cast<int>(0.58f * l.title));
    l.third = std::max(10, static_cast<int>(0.47f * l.title));
    l.margin = std::max(10, l.title / 4);
    l.gap = l.margin / 2;
    l.block = 2 * l.gap + l.margin + l.title + l.second + l.third;
    l.top = (height - l.block) / 2;
    l.radius = l.title / 3;
    l.disc_x = l.radius + l.margin;
    l.disc_y = static_cast<int>(1.5 * l.radius + l.top);
    l.text_x = 2 * (l.radius + l.margin);
    l.band_begin = std::max(0, l.top - l.margin);
    l.band_end = std::min(height, l.top + l.block + l.margin);
    return l;
}

}  // namespace

void darkenRows(Image& image, int begin, int end) {
    detail::withCanvas(image, [&](auto& canvas) {
        using C = std::decay_t<decltype(canvas)>;
        for (long long y = begin; y < end; ++y) {
            for (long long x = 0; x < canvas.width(); ++x) {
                const std::size_t i = canvas.pixelIndex(x, y);
                if (i == C::npos) continue;
                for (unsigned s = 0; s < canvas.colourSamples(); ++s)
                    canvas.store(i + s, canvas.load(i + s) * 0.4f);
            }
        }
    });
}

namespace {

const std::vector<float> kDiscColour = {42 / 255.0f, 193 / 255.0f, 241 / 255.0f, 1.0f};
const std::vector<float> kTextColour = {1.0f, 1.0f, 1.0f, 1.0f};

}  // namespace

OverlayBand overlayBand(int width, int height, float scale) {
    const OverlayLayout l = layoutFor(width, height, scale);
    // The disc's leftmost column is disc_x - radius = margin; the text starts further right.
    return OverlayBand{l.band_begin, l.band_end, std::min(width, std::max(0, l.disc_x - l.radius))};
}

void writeOnImage(Image& image, const std::string& line1, const std::string& line2,
                  const std::string& line3, bool darken, float scale) {
    // A frame reduced this far has no room for readable text.
    if (image.downsample < 0.1f) return;
    const OverlayLayout l = layoutFor(image.width, image.height, scale);
    if (darken) darkenRows(image, l.band_begin, l.band_end);
    drawCircle(image, l.disc_x, l.disc_y, l.radius, kDiscColour);

    const int line2_top = l.top + l.title + l.gap;
    const int line3_top = line2_top + l.second + l.gap;
    const auto line = [&](const std::string& text, int top, int pixel_height) {
        renderText(image, Fonts::RobotoMonoBold, Fonts::RobotoMonoBold_size, text, l.text_x, top,
                   static_cast<float>(pixel_height), kTextColour, 0);
    };
    line(line1, l.top, l.title);
    line(line2, line2_top, l.second);
    line(line3, line3_top, l.third);
}

}  // namespace TEV
