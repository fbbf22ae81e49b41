// TEV image annotation: the failure overlay drawn into a frame, its two
// drawing primitives, the embedded font, and base64 decoding.
//
//   writeOnImage  darkened band, a coloured disc and up to three text lines
//   renderText    one anti-aliased line of TrueType text
//   drawCircle    a filled disc
//   decode_base64 standard-alphabet base64 to bytes
//
// Drawing works on the image's own samples: 8-bit byte storage on the 0..255
// scale, 16-bit byte storage (bit_depth 16) on the 0..32768 scale, float
// storage on 0.0..1.0. Colours are {red, green, blue, alpha} floats in 0..1;
// missing components count as 1.0, and an integer store receives
// trunc(component * full scale), limited to the sample type's range.
// Drawing never throws for geometry: whatever lies outside the image or its
// storage is skipped. One image must not be drawn on by two threads at once.
#pragma once

#include <string>
#include <vector>

#include "TEV.h"

// TrueType fonts carried by the program (converted from tev/fonts/ at build time).
namespace Fonts {
// Roboto Mono Bold (Apache License 2.0): 2048 units per em, no kerning data.
extern const unsigned char RobotoMonoBold[];
// Byte length of RobotoMonoBold.
extern const unsigned int RobotoMonoBold_size;
}  // namespace Fonts

namespace TEV {

// Draws the three-line failure overlay, sized for the image's width times
// `scale` (the render's downsample factor): when `darken` is set the band
// behind the block goes to 40 %, a disc sits at the band's left and the lines
// follow it, title largest. Lines are UTF-8; an empty line draws nothing but
// keeps its place. Does nothing when image.downsample is below 0.1.
void writeOnImage(Image& image, const std::string& line1, const std::string& line2,
                  const std::string& line3, bool darken, float scale);

// Where writeOnImage draws in an image `width` x `height` at `scale`: it
// changes rows [band_begin, band_end) only, and in those rows the columns
// [0, clear_columns) are only darkened (the disc and the text lie right of them).
struct OverlayBand {
    int band_begin = 0, band_end = 0, clear_columns = 0;
};
OverlayBand overlayBand(int width, int height, float scale);

// The overlay's darkening: colour samples of rows [begin, end) go to 40 %;
// alpha stays.
void darkenRows(Image& image, int begin, int end);

// Draws one line of UTF-8 `text` whose box has its top-left corner at (x, y)
// and is `pixel_height` tall, blending the glyph coverage over the samples.
// alignment: 0 left at x, 1 centred on x, 2 right-aligned at x.
// Bytes that are not valid UTF-8 draw nothing and take no room. Returns 1
// when the font initialised and the text was drawn (even if no pixel
// changed); 0 when nothing was done: no font data (null or length 0), empty
// text, an image of width or height 0, a font stb_truetype rejects, or a
// pixel height that is not in (0, kMaxTextPixelHeight].
int renderText(Image& image, const unsigned char* font_data, unsigned int font_size,
               const std::string& text, int x, int y, float pixel_height,
               const std::vector<float>& colour, int alignment);

// Largest pixel height renderText draws; keeps glyph bitmaps within what
// the rasteriser's int arithmetic can address.
constexpr float kMaxTextPixelHeight = 16384.0f;

// Fills the disc of `radius` around column cx, row cy with `colour` (no
// blending; a 4-channel image gets the colour's alpha). A negative radius
// draws nothing.
void drawCircle(Image& image, int cx, int cy, int radius, const std::vector<float>& colour);

// Decodes standard base64 ("+" and "/"), six bits per character, without
// preprocessing: "=" counts as a zero symbol and yields zero bits, trailing
// bits short of a byte are dropped. Any other character outside the alphabet
// (line breaks, blanks), and a lone final character, throw
// TEVErr(ErrorDecodingBase64Image) with the decoder's message as detail.
std::vector<unsigned char> decode_base64(const std::string& text);

}  // namespace TEV
