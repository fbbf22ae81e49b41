// renderText: alignment, pen advance, clipping, blending per store, UTF-8.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Pictures.h"
#include "TEV_Image.h"
#include "Utf8.h"

using namespace drawing_test;

namespace {

const std::vector<float> kWhite = {1.0f, 1.0f, 1.0f, 1.0f};

// At pixel height 50 one advance (1229 of 2701 units) is 22.7508 pixels.
int draw(TEV::Image& image, const std::string& text, int x, int alignment, float height = 50.0f) {
    return TEV::renderText(image, Fonts::RobotoMonoBold, Fonts::RobotoMonoBold_size, text, x, 10,
                           height, kWhite, alignment);
}

std::pair<int, int> inkOf(const std::string& text, int x, int alignment) {
    TEV::Image image = filledImage(1000, 80, 3, 8, 0);
    EXPECT_EQ(draw(image, text, x, alignment), 1);
    return inkColumns(image, 0, 0);
}

}  // namespace

TEST(RenderText, AlignmentShiftsByTheTruncatedWidth) {
    // Four advances: 91.003 pixels wide, half of it 45.5.
    const int left = inkOf("MMMM", 500, 0).first;
    ASSERT_GT(left, 0);
    EXPECT_EQ(inkOf("MMMM", 500, 1).first, left - 45);
    EXPECT_EQ(inkOf("MMMM", 500, 2).first, left - 91);
    EXPECT_EQ(inkOf("MMMM", 500, 3).first, left);
    EXPECT_EQ(inkOf("MMMM", 500, -1).first, left);
}

TEST(RenderText, PenKeepsItsFractionAcrossGlyphs) {
    // The tenth glyph starts 9 x 22.7508 = 204.76 pixels after the first:
    // truncating each advance instead would put it at 198.
    const auto one = inkOf("M", 500, 0);
    const auto ten = inkOf("MMMMMMMMMM", 500, 0);
    EXPECT_EQ(ten.first, one.first);
    EXPECT_EQ(ten.second, one.second + 204);
}

TEST(RenderText, GlyphsAreClippedAtEveryEdge) {
    TEV::Image image = filledImage(50, 30, 3, 8, 0);
    EXPECT_EQ(TEV::renderText(image, Fonts::RobotoMonoBold, Fonts::RobotoMonoBold_size, "WWWWWW",
                              -15, -20, 60.0f, kWhite, 0),
              1);
    const auto [left, right] = inkColumns(image, 0, 0);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(right, 49);
    EXPECT_EQ(inkRuns(image, 0, 0).front().first, 0);
}

TEST(RenderText, NothingIsDoneWithoutFontTextOrRoom) {
    TEV::Image image = filledImage(200, 60, 3, 8, 0);
    const TEV::Image before = image;
    const unsigned char garbage[64] = {};
    const auto f = Fonts::RobotoMonoBold;
    const auto n = Fonts::RobotoMonoBold_size;
    EXPECT_EQ(TEV::renderText(image, f, 0, "Hi", 0, 0, 30.0f, kWhite, 0), 0);
    EXPECT_EQ(TEV::renderText(image, nullptr, n, "Hi", 0, 0, 30.0f, kWhite, 0), 0);
    EXPECT_EQ(TEV::renderText(image, garbage, sizeof garbage, "Hi", 0, 0, 30.0f, kWhite, 0), 0);
    EXPECT_EQ(TEV::renderText(image, f, n, "", 0, 0, 30.0f, kWhite, 0), 0);
    for (float height : {0.0f, -5.0f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(), 1e9f})
        EXPECT_EQ(TEV::renderText(image, f, n, "Hi", 0, 0, height, kWhite, 0), 0) << height;
    EXPECT_EQ(image.pixels, before.pixels);

    TEV::Image empty(0, 10, 3, 8, 1.0f, 0, 1.0f);
    EXPECT_EQ(TEV::renderText(empty, f, n, "Hi", 0, 0, 30.0f, kWhite, 0), 0);
    // Drawn entirely outside: done, though no pixel changed.
    EXPECT_EQ(TEV::renderText(image, f, n, "Hi", 5000, -300, 30.0f, kWhite, 0), 1);
    EXPECT_EQ(TEV::renderText(image, f, n, "Hi", -2147483647, 2147483647, 30.0f, kWhite, 2), 1);
    EXPECT_EQ(image.pixels, before.pixels);
}

TEST(RenderText, CoverageBlendsOnEveryStoreScale) {
    struct Case {
        unsigned short depth;
        float background, colour_full;
    };
    for (const Case& c : {Case{8, 40, 255}, Case{16, 5000, 32768}, Case{32, 0.25f, 1.0f}}) {
        TEV::Image image = filledImage(200, 80, 3, c.depth, c.background);
        ASSERT_EQ(draw(image, "H", 20, 0), 1);
        float lo = c.colour_full, hi = c.background;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 200; ++x) {
                const float v = rgbAt(image, x, y)[0];
                ASSERT_GE(v, c.background);
                ASSERT_LE(v, c.colour_full);
                if (v != c.background) lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        EXPECT_EQ(hi, c.colour_full) << c.depth;  // full coverage reaches the colour
        EXPECT_LT(lo, c.colour_full) << c.depth;  // edges are anti-aliased
    }
}

TEST(RenderText, ColourIsCompletedAndConvertedByTruncation) {
    TEV::Image image = filledImage(200, 80, 4, 8, 0, 0);
    ASSERT_EQ(TEV::renderText(image, Fonts::RobotoMonoBold, Fonts::RobotoMonoBold_size, "H", 20, 10,
                              50.0f, {0.5f}, 0),
              1);
    bool saw_full = false;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 200; ++x)
            if (sampleAt(image, x, y, 1) == 255) {         // green completed with 1.0
                EXPECT_EQ(sampleAt(image, x, y, 0), 127);  // trunc(0.5 * 255)
                EXPECT_EQ(sampleAt(image, x, y, 3), 255);
                saw_full = true;
            }
    EXPECT_TRUE(saw_full);
}

TEST(RenderText, TextIsUtf8AndInvalidBytesTakeNoRoom) {
    TEV::Image plain = filledImage(400, 80, 3, 8, 0), broken = plain, accented = plain, e = plain,
               lone = plain;
    draw(plain, "ab", 10, 0);
    draw(broken,
         "a\xFF\x80\xC3"
         "b",
         10, 0);  // stray bytes and a lead byte without its tail
    EXPECT_EQ(broken.pixels, plain.pixels);

    draw(e, "xe", 10, 0);
    draw(accented, "x\xC3\xA9", 10, 0);  // "xé": one glyph, more ink than "e"
    EXPECT_NE(accented.pixels, e.pixels);
    EXPECT_LT(inkRuns(accented, 40, 0).front().first, inkRuns(e, 40, 0).front().first);

    const TEV::Image before = lone;
    EXPECT_EQ(draw(lone, "\xC3", 10, 0), 1);
    EXPECT_EQ(lone.pixels, before.pixels);
}

TEST(Utf8, WellFormedSequencesDecodeAndEveryBadByteIsDropped) {
    using TEV::detail::decodeUtf8;
    EXPECT_EQ(decodeUtf8("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
              (std::vector<char32_t>{U'A', 0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(decodeUtf8("\xC0\xAFz"), std::vector<char32_t>{U'z'});          // overlong "/"
    EXPECT_EQ(decodeUtf8("\xED\xA0\x80z"), std::vector<char32_t>{U'z'});      // surrogate
    EXPECT_EQ(decodeUtf8("\xF4\x90\x80\x80z"), std::vector<char32_t>{U'z'});  // above U+10FFFF
    EXPECT_EQ(decodeUtf8("\xE2\x82z"), std::vector<char32_t>{U'z'});          // truncated
    EXPECT_EQ(decodeUtf8("\xE2\x82"), std::vector<char32_t>{});           // truncated at the end
    EXPECT_EQ(decodeUtf8("\x80\xBFz\xF8"), std::vector<char32_t>{U'z'});  // stray bytes
    EXPECT_EQ(decodeUtf8(std::string("a\0b", 3)), (std::vector<char32_t>{U'a', 0, U'b'}));
}
