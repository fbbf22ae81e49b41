// renderText: anti-aliased TrueType text blended over an image.
#include <algorithm>
#include <cmath>

// The rasteriser stays private to this file so that it cannot clash with
// another copy of stb_truetype linked into the same program.
#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>

#include "DrawingCanvas.h"
#include "TEV_Image.h"
#include "Utf8.h"

namespace TEV {

namespace {

// A font at one pixel height, with the metrics the layout needs.
struct ScaledFont {
    stbtt_fontinfo info;
    float scale = 0.0f;
    int ascent = 0;
    bool kerning = false;

    float advance(int glyph) const {
        int advance = 0, bearing = 0;
        stbtt_GetGlyphHMetrics(&info, glyph, &advance, &bearing);
        return advance * scale;
    }
    float kern(int glyph, int next) const {
        return kerning ? stbtt_GetGlyphKernAdvance(&info, glyph, next) * scale : 0.0f;
    }
};

std::vector<int> glyphsOf(const stbtt_fontinfo& info, const std::string& text) {
    std::vector<int> glyphs;
    for (char32_t cp : detail::decodeUtf8(text))
        glyphs.push_back(stbtt_FindGlyphIndex(&info, static_cast<int>(cp)));
    return glyphs;
}

float measure(const ScaledFont& font, const std::vector<int>& glyphs) {
    float width = 0.0f;
    for (std::size_t k = 0; k < glyphs.size(); ++k) {
        width += font.advance(glyphs[k]);
        if (k + 1 < glyphs.size()) width += font.kern(glyphs[k], glyphs[k + 1]);
    }
    return width;
}

// Blends one glyph's coverage bitmap with its top-left at (left, top).
template <class Canvas>
void blendGlyph(Canvas& canvas, const unsigned char* bitmap, int w, int h, long long left,
                long long top, const float level[4]) {
    for (int j = 0; j < h; ++j) {
        const long long y = top + j;
        if (y < 0 || y >= canvas.height()) continue;
        for (int i = 0; i < w; ++i) {
            const long long x = left + i;
            if (x < 0 || x >= canvas.width()) continue;
            const std::size_t at = canvas.pixelIndex(x, y);
            if (at == Canvas::npos) continue;
            const float a = bitmap[j * w + i] / 255.0f;
            for (unsigned s = 0; s < canvas.colourSamples(); ++s)
                canvas.store(at + s, canvas.load(at + s) * (1.0f - a) + level[s] * a);
            if (canvas.hasAlpha())
                canvas.store(at + 3, std::max(canvas.load(at + 3), a * level[3]));
        }
    }
}

}  // namespace

int renderText(Image& image, const unsigned char* font_data, unsigned int font_size,
               const std::string& text, int x, int y, float pixel_height,
               const std::vector<float>& colour, int alignment) {
    if (font_size == 0 || font_data == nullptr || text.empty() || image.width == 0 ||
        image.height == 0)
        return 0;
    if (!(pixel_height > 0.0f && pixel_height <= kMaxTextPixelHeight)) return 0;

    ScaledFont font;
    if (!stbtt_InitFont(&font.info, font_data, 0)) return 0;
    int ascent = 0, descent = 0, line_gap = 0;
    stbtt_GetFontVMetrics(&font.info, &ascent, &descent, &line_gap);
    if (ascent - descent <= 0) return 0;
    font.scale = pixel_height / static_cast<float>(ascent - descent);
    font.ascent = ascent;
    font.kerning = font.info.kern != 0 || font.info.gpos != 0;

    const std::vector<int> glyphs = glyphsOf(font.info, text);
    long long left = x;
    if (alignment == 1)
        left -= static_cast<long long>(measure(font, glyphs) * 0.5f);
    else if (alignment == 2)
        left -= static_cast<long long>(measure(font, glyphs));

    const std::vector<float> c = detail::completeColour(colour);
    const long long baseline = y + static_cast<long long>(ascent * font.scale);
    // The pen keeps its fraction across glyphs; each glyph lands on its integer part.
    float pen = static_cast<float>(left);
    detail::withCanvas(image, [&](auto& canvas) {
        using C = std::decay_t<decltype(canvas)>;
        const float level[4] = {C::level(c[0]), C::level(c[1]), C::level(c[2]), C::level(c[3])};
        for (std::size_t k = 0; k < glyphs.size(); ++k) {
            // Rasterising costs the glyph's area, which at large pixel heights
            // runs to seconds: only glyphs that reach into the image are drawn.
            int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
            stbtt_GetGlyphBitmapBoxSubpixel(&font.info, glyphs[k], font.scale, font.scale, 0.0f, 0.0f, &x0,
                                            &y0, &x1, &y1);
            const long long glyph_left = static_cast<long long>(std::trunc(pen)) + x0;
            const long long glyph_top = baseline + y0;
            const bool visible = glyph_left + (x1 - x0) > 0 && glyph_left < canvas.width() &&
                                 glyph_top + (y1 - y0) > 0 && glyph_top < canvas.height();
            int w = 0, h = 0, xoff = 0, yoff = 0;
            unsigned char* bitmap =
                visible ? stbtt_GetGlyphBitmapSubpixel(&font.info, font.scale, font.scale, 0.0f, 0.0f,
                                                       glyphs[k], &w, &h, &xoff, &yoff)
                        : nullptr;
            if (bitmap != nullptr) {
                blendGlyph(canvas, bitmap, w, h, static_cast<long long>(std::trunc(pen)) + xoff,
                           baseline + yoff, level);
                stbtt_FreeBitmap(bitmap, nullptr);
            }
            pen += font.advance(glyphs[k]);
            if (k + 1 < glyphs.size()) pen += font.kern(glyphs[k], glyphs[k + 1]);
        }
    });
    return 1;
}

}  // namespace TEV
