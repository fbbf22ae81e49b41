// The failure overlay: band, disc and line positions on pixels, per store kind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "Pictures.h"
#include "TEV_Image.h"

using namespace drawing_test;

namespace {

// At 1920 x 1080, scale 1: line tops 447 / 530 / 581, heights 74 / 42 / 34;
// a baseline sits trunc(2146 / 2701 * height) below its line's top, so an
// "H" ends on the row above it.
constexpr int kLine1InkBottom = 447 + 58 - 1;
constexpr int kLine2InkBottom = 530 + 33 - 1;
constexpr int kLine3InkBottom = 581 + 27 - 1;
constexpr int kPastDisc = 70;  // the disc ends at column 66, the text starts at 84

void expectFullHdGeometry(const TEV::Image& image, float untouched, float darkened,
                          const std::array<float, 3>& disc, float white) {
    // Outside rows 429..650 nothing changes.
    for (int y : {0, 200, 428, 651, 900, 1079})
        for (int x : {0, 42, 84, 960, 1919})
            EXPECT_EQ(rgbAt(image, x, y)[0], untouched) << x << "," << y;
    for (int y : {429, 446, 500, 650}) EXPECT_EQ(rgbAt(image, 1919, y)[1], darkened) << y;

    // Disc of radius 24 around (42, 483); its neighbours outside stay darkened.
    for (auto [x, y] : {std::pair{42, 483}, {66, 483}, {18, 483}, {42, 459}, {42, 507}}) {
        const auto rgb = rgbAt(image, x, y);
        for (int s = 0; s < 3; ++s) EXPECT_NEAR(rgb[s], disc[s], 1e-6) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{67, 483}, {17, 483}, {42, 458}, {42, 508}, {60, 466}})
        EXPECT_EQ(rgbAt(image, x, y)[0], darkened) << x << "," << y;

    // Three lines of "H": ink within each line's box, bottoms on the baselines.
    const std::vector<InkRun> runs = inkRuns(image, kPastDisc, darkened, 429, 651);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_GE(runs[0].first, 447);
    EXPECT_EQ(runs[0].last, kLine1InkBottom);
    EXPECT_GE(runs[1].first, 530);
    EXPECT_EQ(runs[1].last, kLine2InkBottom);
    EXPECT_GE(runs[2].first, 581);
    EXPECT_EQ(runs[2].last, kLine3InkBottom);
    const auto [left, right] = inkColumns(image, kPastDisc, darkened, 429, 651);
    EXPECT_GE(left, 84);
    EXPECT_LE(left, 92);  // the "H"'s left bearing
    EXPECT_LT(right, 84 + 4 * 34);
    // Full coverage reaches the text colour.
    float brightest = 0;
    for (int x = left; x <= right; ++x) brightest = std::max(brightest, rgbAt(image, x, 500)[0]);
    EXPECT_EQ(brightest, white);
}

}  // namespace

TEST(Overlay, FullHdByteImageHasBandDiscAndLinesInPlace) {
    TEV::Image image = filledImage(1920, 1080, 3, 8, 200);
    TEV::writeOnImage(image, "HHHH", "HHHH", "HHHH", true, 1.0f);
    expectFullHdGeometry(image, 200, 80, {42, 193, 241}, 255);
    EXPECT_EQ(std::get<0>(image.pixels).size(), 1920u * 1080 * 3);
}

TEST(Overlay, FullHdFloatImageFollowsTheSameRules) {
    TEV::Image image = filledImage(1920, 1080, 3, 32, 0.5f);
    TEV::writeOnImage(image, "HHHH", "HHHH", "HHHH", true, 1.0f);
    expectFullHdGeometry(image, 0.5f, 0.5f * 0.4f, {42 / 255.0f, 193 / 255.0f, 241 / 255.0f}, 1.0f);
}

TEST(Overlay, FullHdSixteenBitImageIsDrawnOnThe32768Scale) {
    TEV::Image image = filledImage(1920, 1080, 3, 16, 20000);
    TEV::writeOnImage(image, "HHHH", "HHHH", "HHHH", true, 1.0f);
    // trunc(42 / 255 * 32768) and so on.
    expectFullHdGeometry(image, 20000, 8000, {5397, 24800, 30968}, 32768);
}

TEST(Overlay, DarkeningIsOffWhenNotAsked) {
    TEV::Image image = filledImage(1920, 1080, 3, 8, 200);
    TEV::writeOnImage(image, "", "", "", false, 1.0f);
    EXPECT_EQ(rgbAt(image, 1919, 500)[0], 200);
    EXPECT_EQ(rgbAt(image, 42, 483)[0], 42);  // the disc is still drawn
}

TEST(Overlay, HalfResolutionKeepsTheRelativeSize) {
    // T = 37 at 960 wide with scale 0.5: margin 10, block 95, top 222, radius 12.
    TEV::Image image = filledImage(960, 540, 3, 8, 200);
    TEV::writeOnImage(image, "", "", "", true, 0.5f);
    EXPECT_EQ(rgbAt(image, 959, 211)[0], 200);
    EXPECT_EQ(rgbAt(image, 959, 212)[0], 80);
    EXPECT_EQ(rgbAt(image, 959, 326)[0], 80);
    EXPECT_EQ(rgbAt(image, 959, 327)[0], 200);
    EXPECT_EQ(rgbAt(image, 22, 240)[0], 42);
    EXPECT_EQ(rgbAt(image, 34, 240)[0], 42);
    EXPECT_EQ(rgbAt(image, 35, 240)[0], 80);
}

TEST(Overlay, ReducedFramesAreLeftAloneButNotANumberDraws) {
    TEV::Image image = filledImage(320, 180, 3, 8, 200);
    const TEV::Image before = image;
    image.downsample = 0.05f;
    TEV::writeOnImage(image, "HHHH", "HHHH", "HHHH", true, 1.0f);
    EXPECT_EQ(image.pixels, before.pixels);

    image.downsample = 0.1f;
    TEV::writeOnImage(image, "HHHH", "", "", true, 1.0f);
    EXPECT_NE(image.pixels, before.pixels);

    TEV::Image nan_image = before;
    nan_image.downsample = std::numeric_limits<float>::quiet_NaN();
    TEV::writeOnImage(nan_image, "HHHH", "", "", true, 1.0f);
    EXPECT_NE(nan_image.pixels, before.pixels);
}

TEST(Overlay, TinyImageUsesMinimumSizesAndClipsAtTheTop) {
    // Sizes 16 / 12 / 10, margin 10, block 58: top = -9, the band covers every
    // row, the disc of radius 5 sits at (15, -1), lines end on rows 2, 20, 35.
    TEV::Image image = filledImage(100, 40, 3, 8, 200);
    TEV::writeOnImage(image, "HHH", "HHH", "HHH", true, 1.0f);
    EXPECT_EQ(rgbAt(image, 99, 0)[0], 80);
    EXPECT_EQ(rgbAt(image, 99, 39)[0], 80);
    EXPECT_EQ(rgbAt(image, 15, 4)[1], 193);
    EXPECT_EQ(rgbAt(image, 10, 0)[1], 80);
    EXPECT_EQ(rgbAt(image, 15, 5)[1], 80);

    const std::vector<InkRun> runs = inkRuns(image, 25, 80);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_EQ(runs[0].last, 2);
    EXPECT_EQ(runs[1].last, 20);
    EXPECT_EQ(runs[2].last, 35);
    EXPECT_GE(inkColumns(image, 25, 80).first, 30);
    writePicture(image, "overlay_tiny_100x40");
}

TEST(Overlay, EmptySecondLineKeepsTheOthersInPlace) {
    TEV::Image all = filledImage(1920, 1080, 3, 8, 200);
    TEV::Image gap = all;
    TEV::writeOnImage(all, "HHHH", "HHHH", "HHHH", true, 1.0f);
    TEV::writeOnImage(gap, "HHHH", "", "HHHH", true, 1.0f);
    const std::vector<InkRun> runs = inkRuns(gap, kPastDisc, 80, 429, 651);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].last, kLine1InkBottom);
    EXPECT_EQ(runs[1].last, kLine3InkBottom);
    for (int y : {500, 520, 600, 614})
        for (int x = 0; x < 1920; ++x)
            ASSERT_EQ(rgbAt(gap, x, y), rgbAt(all, x, y)) << x << "," << y;
}

TEST(Overlay, AlphaIsRaisedByTextSetByTheDiscAndKeptByTheBand) {
    TEV::Image image = filledImage(1920, 1080, 4, 8, 200, 100);
    TEV::writeOnImage(image, "HHHH", "HHHH", "HHHH", true, 1.0f);
    EXPECT_EQ(sampleAt(image, 42, 483, 3), 255);    // disc
    EXPECT_EQ(sampleAt(image, 1919, 500, 3), 100);  // band only
    EXPECT_EQ(sampleAt(image, 1919, 100, 3), 100);  // untouched
    int full = 0, faint = 0;
    for (int y = 447; y < 615; ++y)
        for (int x = kPastDisc; x < 84 + 4 * 34; ++x) {
            const float red = sampleAt(image, x, y, 0), alpha = sampleAt(image, x, y, 3);
            ASSERT_GE(alpha, 100) << x << "," << y;  // never lowered
            if (red == 255) {
                EXPECT_EQ(alpha, 255) << x << "," << y;
                ++full;
            } else if (red > 80 && red < 100) {
                EXPECT_EQ(alpha, 100) << x << "," << y;  // faint coverage stays below the old alpha
                ++faint;
            }
        }
    EXPECT_GT(full, 0);
    EXPECT_GT(faint, 0);
}

TEST(Overlay, FloatAlphaIsRaisedToCoverage) {
    TEV::Image image = filledImage(640, 360, 4, 32, 0.5f, 0.2f);
    TEV::writeOnImage(image, "HHHH", "", "", true, 1.0f);
    bool saw_full = false;
    for (int y = 0; y < 360; ++y)
        for (int x = 40; x < 640; ++x) {
            ASSERT_GE(sampleAt(image, x, y, 3), 0.2f);
            if (sampleAt(image, x, y, 0) == 1.0f) {
                EXPECT_EQ(sampleAt(image, x, y, 3), 1.0f);
                saw_full = true;
            }
        }
    EXPECT_TRUE(saw_full);
}

TEST(Overlay, ShortStoreIsNeverOverrun) {
    // Geometry promises more samples than the store holds: drawing stops at
    // the store's end (AddressSanitizer watches the rest) and never writes a
    // partial pixel.
    TEV::Image image = filledImage(1920, 1080, 3, 8, 200);
    auto& bytes = std::get<0>(image.pixels);
    const std::size_t whole_rows = 1920u * 3 * 480;
    bytes.resize(whole_rows + 2);  // rows 0..479 and two samples of row 480
    bytes[whole_rows] = bytes[whole_rows + 1] = 7;
    TEV::writeOnImage(image, "HHHH", "HHHH", "HHHH", true, 1.0f);
    EXPECT_EQ(bytes.size(), whole_rows + 2);
    EXPECT_EQ(rgbAt(image, 1919, 479)[0], 80);
    EXPECT_EQ(bytes[whole_rows], 7);
    EXPECT_EQ(bytes[whole_rows + 1], 7);

    TEV::Image odd16 = filledImage(64, 64, 3, 16, 20000);
    std::get<0>(odd16.pixels).resize(64 * 3 * 2 * 10 + 1);  // ten rows and one stray byte
    TEV::writeOnImage(odd16, "HHHH", "HHHH", "HHHH", true, 1.0f);
    EXPECT_EQ(std::get<0>(odd16.pixels).size(), 64u * 3 * 2 * 10 + 1);
}

TEST(Overlay, PicturesForAPerson) {
    const std::string title = "Can't connect to the TEVORA";
    const std::string detail = "Server: « résumé » failed — ünïcödé, ÅØ ñ {}";
    const std::string hint = "Start the server, then press Reconnect in the effect controls";
    for (unsigned short depth : {8, 16, 32}) {
        TEV::Image image = rampImage(1920, 1080, depth);
        TEV::writeOnImage(image, title, detail, hint, true, 1.0f);
        const std::string path =
            writePicture(image, "overlay_1920x1080_" + std::to_string(depth) + "bit");
        EXPECT_GT(std::filesystem::file_size(path), 10000u) << path;
    }
    TEV::Image half = rampImage(960, 540, 8);
    TEV::writeOnImage(half, title, detail, hint, true, 0.5f);
    writePicture(half, "overlay_960x540_scale_0.5");
    TEV::Image rgba = filledImage(800, 300, 4, 8, 120, 0);
    TEV::writeOnImage(rgba, title, "", hint, true, 0.5f);
    writePicture(rgba, "overlay_800x300_rgba_transparent");
}
