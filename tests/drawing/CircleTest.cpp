// drawCircle: the exact disc, clipping, colour rules and the store bound.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Pictures.h"
#include "TEV_Image.h"

using namespace drawing_test;

namespace {

const std::vector<float> kRed = {1.0f, 0.0f, 0.0f, 1.0f};

bool isSet(const TEV::Image& image, int x, int y) { return rgbAt(image, x, y)[0] == 255; }

}  // namespace

TEST(DrawCircle, RadiusTwoSetsTheThirteenLatticePoints) {
    TEV::Image image = filledImage(9, 9, 3, 8, 0);
    TEV::drawCircle(image, 4, 4, 2, kRed);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x) {
            const int dx = x - 4, dy = y - 4;
            EXPECT_EQ(isSet(image, x, y), dx * dx + dy * dy <= 4) << x << "," << y;
        }
    EXPECT_EQ(rgbAt(image, 4, 4), (std::array<float, 3>{255, 0, 0}));
}

TEST(DrawCircle, ZeroRadiusSetsOnePixelNegativeNone) {
    TEV::Image image = filledImage(5, 5, 3, 8, 0);
    TEV::drawCircle(image, 2, 2, 0, kRed);
    EXPECT_EQ(inkColumns(image, 0, 0), (std::pair<int, int>{2, 2}));
    ASSERT_EQ(inkRuns(image, 0, 0).size(), 1u);
    EXPECT_EQ(inkRuns(image, 0, 0)[0].first, 2);
    EXPECT_EQ(inkRuns(image, 0, 0)[0].last, 2);

    TEV::Image untouched = filledImage(5, 5, 3, 8, 0);
    TEV::drawCircle(untouched, 2, 2, -3, kRed);
    EXPECT_TRUE(inkRuns(untouched, 0, 0).empty());
}

TEST(DrawCircle, DiscIsClippedAtTheImageEdges) {
    TEV::Image image = filledImage(6, 6, 3, 8, 0);
    TEV::drawCircle(image, 0, 5, 3, kRed);  // lower-left corner: a quarter disc
    EXPECT_TRUE(isSet(image, 0, 5));
    EXPECT_TRUE(isSet(image, 3, 5));
    EXPECT_TRUE(isSet(image, 0, 2));
    EXPECT_TRUE(isSet(image, 2, 3));
    EXPECT_FALSE(isSet(image, 3, 3));
    EXPECT_FALSE(isSet(image, 4, 5));

    TEV::Image far = filledImage(6, 6, 3, 8, 0);
    TEV::drawCircle(far, -100, -100, 50, kRed);
    TEV::drawCircle(far, std::numeric_limits<int>::max(), std::numeric_limits<int>::min(),
                    std::numeric_limits<int>::max(), kRed);
    EXPECT_TRUE(inkRuns(far, 0, 0).empty());
}

TEST(DrawCircle, HugeRadiusStillCoversTheImage) {
    // Squared distances of this radius do not fit 32 bits.
    TEV::Image image = filledImage(64, 64, 3, 8, 0);
    TEV::drawCircle(image, 32, 32, 100000, kRed);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) ASSERT_TRUE(isSet(image, x, y)) << x << "," << y;
}

TEST(DrawCircle, FourChannelsGetTheColoursAlphaWithoutBlending) {
    TEV::Image image = filledImage(5, 5, 4, 8, 200, 250);
    TEV::drawCircle(image, 2, 2, 1, {0.2f, 0.4f, 0.6f, 0.5f});
    EXPECT_EQ(sampleAt(image, 2, 2, 0), 51);  // trunc(0.2 * 255)
    EXPECT_EQ(sampleAt(image, 2, 2, 1), 102);
    EXPECT_EQ(sampleAt(image, 2, 2, 2), 153);
    EXPECT_EQ(sampleAt(image, 2, 2, 3), 127);  // lowered: set, not blended
    EXPECT_EQ(sampleAt(image, 0, 0, 3), 250);

    TEV::Image rgb = filledImage(5, 5, 3, 8, 9);
    TEV::drawCircle(rgb, 1, 1, 1, {0.0f, 1.0f});  // blue completed with 1.0
    EXPECT_EQ(rgbAt(rgb, 1, 1), (std::array<float, 3>{0, 255, 255}));
    EXPECT_EQ(rgbAt(rgb, 3, 1),
              (std::array<float, 3>{9, 9, 9}));  // no alpha spill into the next pixel
}

TEST(DrawCircle, OutOfRangeColoursAreLimitedToTheSampleType) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    TEV::Image bytes = filledImage(3, 3, 3, 8, 9);
    TEV::drawCircle(bytes, 1, 1, 0, {-0.5f, 1.5f, nan, 1.0f});
    EXPECT_EQ(rgbAt(bytes, 1, 1), (std::array<float, 3>{0, 255, 0}));

    TEV::Image words = filledImage(3, 3, 3, 16, 9);
    TEV::drawCircle(words, 1, 1, 0, {1.0f, 3.0f, 0.5f, 1.0f});
    EXPECT_EQ(rgbAt(words, 1, 1), (std::array<float, 3>{32768, 65535, 16384}));

    TEV::Image floats = filledImage(3, 3, 3, 32, 0.0f);
    TEV::drawCircle(floats, 1, 1, 0, {1.5f, -0.25f, 0.5f, 1.0f});
    EXPECT_EQ(rgbAt(floats, 1, 1),
              (std::array<float, 3>{1.5f, -0.25f, 0.5f}));  // floats are unbounded
}

TEST(DrawCircle, NeverWritesBeyondTheStore) {
    TEV::Image image = filledImage(10, 10, 3, 8, 0);
    auto& bytes = std::get<0>(image.pixels);
    bytes.resize(50);  // 16 whole pixels and two samples of the 17th
    bytes[48] = bytes[49] = 7;
    TEV::drawCircle(image, 5, 5, 20, kRed);
    ASSERT_EQ(bytes.size(), 50u);
    EXPECT_EQ(bytes[45], 255);
    EXPECT_EQ(bytes[48], 7);
    EXPECT_EQ(bytes[49], 7);

    TEV::Image floats = filledImage(10, 10, 4, 32, 0.0f);
    std::get<1>(floats.pixels).resize(39);  // nine whole pixels and three samples
    TEV::drawCircle(floats, 5, 5, 20, kRed);
    EXPECT_EQ(std::get<1>(floats.pixels)[32], 1.0f);
    EXPECT_EQ(std::get<1>(floats.pixels)[35], 1.0f);  // the ninth pixel's alpha
    EXPECT_EQ(std::get<1>(floats.pixels)[36], 0.0f);
}
