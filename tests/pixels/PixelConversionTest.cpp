// Pixel functions: scaling and alpha rules per depth, storage kinds, the
// image's own addressing, and indices that must not leave the store.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "PixelConversion.h"
#include "ThrownError.h"

using namespace TEV::Adobe;

// Host pixels are {alpha, red, green, blue}; compared and printed in that
// order (in the records' own namespace, where the assertions look).
template <class Pixel>
static bool samePixel(const Pixel& a, const Pixel& b) {
    return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
static bool operator==(const PF_Pixel& a, const PF_Pixel& b) { return samePixel(a, b); }
static bool operator==(const PF_Pixel16& a, const PF_Pixel16& b) { return samePixel(a, b); }
template <class Pixel>
static std::ostream& printPixel(std::ostream& os, const Pixel& p) {
    return os << "{a " << +p.alpha << ", r " << +p.red << ", g " << +p.green << ", b " << +p.blue
              << "}";
}
static std::ostream& operator<<(std::ostream& os, const PF_Pixel& p) { return printPixel(os, p); }
static std::ostream& operator<<(std::ostream& os, const PF_Pixel16& p) { return printPixel(os, p); }

namespace {

TEV::Image image(unsigned short w, unsigned short h, unsigned short channels,
                 unsigned short depth) {
    return TEV::Image(w, h, channels, depth, 1.0f, 0, 1.0f);
}

std::vector<unsigned char>& bytes(TEV::Image& i) {
    return std::get<std::vector<unsigned char>>(i.pixels);
}
std::vector<float>& floats(TEV::Image& i) { return std::get<std::vector<float>>(i.pixels); }

A_u_short word(TEV::Image& i, std::size_t sample) {
    A_u_short v;
    std::memcpy(&v, bytes(i).data() + 2 * sample, 2);
    return v;
}
void setWord(TEV::Image& i, std::size_t sample, A_u_short v) {
    std::memcpy(bytes(i).data() + 2 * sample, &v, 2);
}

// Image2World16 of one float sample (in red) from a 3-channel float image.
A_u_short sixteenFrom(float sample) {
    TEV::Image img = image(1, 1, 3, 32);
    floats(img)[0] = sample;
    PF_Pixel16 out{};
    Image2World16(&img, 0, 0, &out, &out);
    return out.red;
}

}  // namespace

// --- scaling and alpha -------------------------------------------------------

TEST(SixteenBitWorlds, FloatStorageIsScaledBy32768) {
    TEV::Image img = image(2, 1, 4, 32);
    PF_Pixel16 full{32768, 32768, 16384, 0};
    World2Image16(&img, 0, 0, &full, nullptr);
    EXPECT_EQ(floats(img), (std::vector<float>{1.0f, 0.5f, 0.0f, 1.0f, 0, 0, 0, 0}));

    TEV::Image rgb = image(1, 1, 3, 32);
    PF_Pixel16 odd{1, 3, 32767, 65535};
    World2Image16(&rgb, 0, 0, &odd, nullptr);
    EXPECT_EQ(floats(rgb), (std::vector<float>{3 / 32768.0f, 32767 / 32768.0f, 65535 / 32768.0f}));
}

TEST(SixteenBitWorlds, ByteStorageKeepsTheValues) {
    TEV::Image img = image(1, 1, 4, 16);
    PF_Pixel16 in{111, 32768, 16384, 65535};
    World2Image16(&img, 0, 0, &in, nullptr);
    EXPECT_EQ(word(img, 0), 32768);
    EXPECT_EQ(word(img, 1), 16384);
    EXPECT_EQ(word(img, 2), 65535);
    EXPECT_EQ(word(img, 3), 111);

    PF_Pixel16 out{};
    Image2World16(&img, 0, 0, nullptr, &out);
    EXPECT_EQ(out, in);  // unclamped: 65535 stays above 32768
}

TEST(SixteenBitWorlds, FloatSamplesAreLimitedAndTruncated) {
    EXPECT_EQ(sixteenFrom(1.5f), 32768);
    EXPECT_EQ(sixteenFrom(1.0f), 32768);
    EXPECT_EQ(sixteenFrom(0.5f), 16384);
    EXPECT_EQ(sixteenFrom(0.99999f), 32767);
    EXPECT_EQ(sixteenFrom(-0.2f), 0);
    EXPECT_EQ(sixteenFrom(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(sixteenFrom(std::numeric_limits<float>::infinity()), 32768);
    EXPECT_EQ(sixteenFrom(-std::numeric_limits<float>::infinity()), 0);

    TEV::Image rgba = image(1, 1, 4, 32);
    floats(rgba) = {0.25f, 0.5f, 0.75f, 2.0f};
    PF_Pixel16 out{};
    Image2World16(&rgba, 0, 0, nullptr, &out);
    EXPECT_EQ(out, (PF_Pixel16{32768, 8192, 16384, 24576}));
}

TEST(AlphaRules, ThreeChannelImagesGiveOpaqueAlphaFourChannelsTheirOwn) {
    TEV::Image b8 = image(1, 1, 3, 8);
    bytes(b8) = {10, 20, 30};
    PF_Pixel p8{};
    Image2World8(&b8, 0, 0, nullptr, &p8);
    EXPECT_EQ(p8, (PF_Pixel{255, 10, 20, 30}));

    TEV::Image b16 = image(1, 1, 3, 16);
    PF_Pixel16 p16{};
    Image2World16(&b16, 0, 0, nullptr, &p16);
    EXPECT_EQ(p16.alpha, 32768);
    TEV::Image f16 = image(1, 1, 3, 32);
    Image2World16(&f16, 0, 0, nullptr, &p16);
    EXPECT_EQ(p16.alpha, 32768);

    TEV::Image f32 = image(1, 1, 3, 32);
    floats(f32) = {2.0f, -0.5f, 0.25f};
    PF_PixelFloat pf{};
    Image2World32(&f32, 0, 0, nullptr, &pf);
    EXPECT_EQ(pf.alpha, 1.0f);
    EXPECT_EQ(pf.red, 2.0f);  // floats travel unclamped
    EXPECT_EQ(pf.green, -0.5f);

    TEV::Image rgba = image(1, 1, 4, 8);
    bytes(rgba) = {1, 2, 3, 4};
    Image2World8(&rgba, 0, 0, nullptr, &p8);
    EXPECT_EQ(p8, (PF_Pixel{4, 1, 2, 3}));
    TEV::Image frgba = image(1, 1, 4, 32);
    floats(frgba) = {0.1f, 0.2f, 0.3f, 0.4f};
    Image2World32(&frgba, 0, 0, nullptr, &pf);
    EXPECT_EQ(pf.alpha, 0.4f);
}

TEST(AlphaRules, WorldAlphaReachesOnlyFourChannelImages) {
    TEV::Image rgb = image(2, 1, 3, 8);
    PF_Pixel in{77, 1, 2, 3};
    World2Image8(&rgb, 0, 0, &in, nullptr);
    EXPECT_EQ(bytes(rgb), (std::vector<unsigned char>{1, 2, 3, 0, 0, 0}));

    TEV::Image rgba = image(1, 1, 4, 32);
    PF_PixelFloat fin{0.5f, 2.0f, -1.0f, 0.25f};
    World2Image32(&rgba, 0, 0, &fin, nullptr);
    EXPECT_EQ(floats(rgba), (std::vector<float>{2.0f, -1.0f, 0.25f, 0.5f}));
}

// --- addressing --------------------------------------------------------------

TEST(Addressing, ImageIsAddressedWithItsOwnWidth) {
    TEV::Image img = image(4, 2, 3, 8);
    PF_Pixel in{0, 7, 8, 9};
    PF_Pixel untouched{5, 5, 5, 5};
    World2Image8(&img, 0, 1, &in, &untouched);
    EXPECT_EQ(bytes(img)[12], 7);
    EXPECT_EQ(bytes(img)[13], 8);
    EXPECT_EQ(bytes(img)[14], 9);
    EXPECT_EQ(untouched, (PF_Pixel{5, 5, 5, 5}));  // World2Image never writes the destination

    TEV::Image words = image(4, 2, 3, 16);
    setWord(words, 12, 1000);
    PF_Pixel16 out{};
    Image2World16(&words, 0, 1, nullptr, &out);
    EXPECT_EQ(out.red, 1000);
}

TEST(Addressing, EightBitRoundTripIsExact) {
    TEV::Image img = image(3, 3, 4, 8);
    for (A_long y = 0; y < 3; ++y)
        for (A_long x = 0; x < 3; ++x) {
            PF_Pixel in{A_u_char(x * 80), A_u_char(y), A_u_char(x + y), 255};
            World2Image8(&img, x, y, &in, nullptr);
        }
    for (A_long y = 0; y < 3; ++y)
        for (A_long x = 0; x < 3; ++x) {
            PF_Pixel out{};
            Image2World8(&img, x, y, nullptr, &out);
            EXPECT_EQ(out, (PF_Pixel{A_u_char(x * 80), A_u_char(y), A_u_char(x + y), 255}));
        }
}

// --- storage kinds -----------------------------------------------------------

TEST(StorageKinds, FloatStorageIsRefusedByEightBitFunctions) {
    TEV::Image img = image(1, 1, 3, 32);
    PF_Pixel in{1, 2, 3, 4}, out{9, 9, 9, 9};
    EXPECT_THROW(World2Image8(&img, 0, 0, &in, nullptr), std::bad_variant_access);
    EXPECT_THROW(Image2World8(&img, 0, 0, nullptr, &out), std::bad_variant_access);
    EXPECT_EQ(floats(img), (std::vector<float>{0, 0, 0}));
    EXPECT_EQ(out, (PF_Pixel{9, 9, 9, 9}));
    EXPECT_STREQ(TEV::Test::thrownBy<PixelStorageMismatch>([&] { Image2World8(&img, 0, 0, nullptr, &out); }).what(),
                 "Image2World8: the image has float storage, 8-bit pixels need byte storage");
}

TEST(StorageKinds, ByteStorageIsRefusedByFloatFunctions) {
    TEV::Image img = image(1, 1, 3, 8);
    PF_PixelFloat in{1, 2, 3, 4}, out{9, 9, 9, 9};
    EXPECT_THROW(World2Image32(&img, 0, 0, &in, nullptr), PixelStorageMismatch);
    EXPECT_THROW(Image2World32(&img, 0, 0, nullptr, &out), PixelStorageMismatch);
    EXPECT_EQ(bytes(img), (std::vector<unsigned char>{0, 0, 0}));
    EXPECT_EQ(out.red, 9.0f);
    EXPECT_STREQ(TEV::Test::thrownBy<PixelStorageMismatch>([&] { World2Image32(&img, 0, 0, &in, nullptr); }).what(),
                 "World2Image32: the image has byte storage, float pixels need float storage");
}

// --- indices that leave the store --------------------------------------------

namespace {

// A 65535 x 65535 x 4 image whose store holds only four pixels. At pixel
// (16386, 16384) the true first sample is 4294967304; in 32-bit arithmetic
// it wraps to 8, inside the store.
constexpr A_long kWrapX = 16386, kWrapY = 16384;

TEV::Image hugeGeometry(unsigned short depth) {
    TEV::Image img = image(2, 2, 4, depth);
    img.width = img.height = 65535;
    return img;
}

}  // namespace

TEST(StoreBounds, IndicesThatWrapIn32BitsTouchNothing) {
    TEV::Image b8 = hugeGeometry(8);
    const auto before8 = bytes(b8);
    PF_Pixel in8{1, 2, 3, 4}, out8{9, 9, 9, 9};
    World2Image8(&b8, kWrapX, kWrapY, &in8, nullptr);
    Image2World8(&b8, kWrapX, kWrapY, nullptr, &out8);
    EXPECT_EQ(bytes(b8), before8);
    EXPECT_EQ(out8, (PF_Pixel{0, 0, 0, 0}));  // transparent black for a pixel with no samples

    TEV::Image b16 = hugeGeometry(16);
    const auto before16 = bytes(b16);
    PF_Pixel16 in16{1, 2, 3, 4}, out16{9, 9, 9, 9};
    World2Image16(&b16, kWrapX, kWrapY, &in16, nullptr);
    Image2World16(&b16, kWrapX, kWrapY, nullptr, &out16);
    EXPECT_EQ(bytes(b16), before16);
    EXPECT_EQ(out16, (PF_Pixel16{0, 0, 0, 0}));

    TEV::Image f = hugeGeometry(32);
    PF_PixelFloat inf{1, 2, 3, 4}, outf{9, 9, 9, 9};
    World2Image32(&f, kWrapX, kWrapY, &inf, nullptr);
    World2Image16(&f, 65534, 65534, &in16, nullptr);
    Image2World32(&f, kWrapX, kWrapY, nullptr, &outf);
    EXPECT_EQ(floats(f), std::vector<float>(16, 0.0f));
    EXPECT_EQ(outf.alpha, 0.0f);
    EXPECT_EQ(outf.red, 0.0f);
}

TEST(StoreBounds, NegativeCoordinatesTouchNothing) {
    TEV::Image img = image(4, 4, 3, 8);
    PF_Pixel in{1, 2, 3, 4}, out{9, 9, 9, 9};
    for (auto [x, y] : {std::pair<A_long, A_long>{-1, 1}, {1, -1}, {-2147483647 - 1, 0}, {4, -1}}) {
        World2Image8(&img, x, y, &in, nullptr);
        Image2World8(&img, x, y, nullptr, &out);
        EXPECT_EQ(out, (PF_Pixel{0, 0, 0, 0})) << x << "," << y;
        out = {9, 9, 9, 9};
    }
    EXPECT_EQ(bytes(img), std::vector<unsigned char>(48, 0));
}

TEST(StoreBounds, PixelsPartlyBeyondTheStoreAreSkipped) {
    // Store shorter than the geometry: the last pixel is cut short.
    TEV::Image rgb = image(2, 1, 3, 8);
    bytes(rgb).resize(5);
    PF_Pixel in{1, 2, 3, 4};
    World2Image8(&rgb, 0, 0, &in, nullptr);
    World2Image8(&rgb, 1, 0, &in, nullptr);
    EXPECT_EQ(bytes(rgb), (std::vector<unsigned char>{2, 3, 4, 0, 0}));

    // Four channels one sample short: the pixel's first three samples are
    // in the store, its alpha is not, so the pixel is neither read nor written.
    TEV::Image rgba = image(2, 1, 4, 32);
    floats(rgba) = {0, 0, 0, 0, 0.5f, 0.25f, 0.125f};
    PF_PixelFloat out{9, 9, 9, 9};
    Image2World32(&rgba, 1, 0, nullptr, &out);
    EXPECT_EQ(out.alpha, 0.0f);
    EXPECT_EQ(out.red, 0.0f);
    PF_PixelFloat fin{1, 2, 3, 4};
    World2Image32(&rgba, 1, 0, &fin, nullptr);
    EXPECT_EQ(floats(rgba), (std::vector<float>{0, 0, 0, 0, 0.5f, 0.25f, 0.125f}));

    TEV::Image words = image(2, 1, 3, 16);
    bytes(words).resize(11);  // five whole samples and a stray byte
    bytes(words)[10] = 0xAB;
    PF_Pixel16 in16{1, 2, 3, 4};
    World2Image16(&words, 1, 0, &in16, nullptr);
    EXPECT_EQ(bytes(words)[10], 0xAB);
    EXPECT_EQ(word(words, 3), 0);
}

// --- threads -----------------------------------------------------------------

TEST(Threads, DifferentPixelsConvertConcurrently) {
    // The host iterates one world from several threads at once.
    constexpr int kSide = 128, kThreads = 4;
    TEV::Image img = image(kSide, kSide, 4, 32);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&img, t] {
            for (A_long y = t; y < kSide; y += kThreads)
                for (A_long x = 0; x < kSide; ++x) {
                    PF_Pixel16 in{32768, A_u_short(x * 256), A_u_short(y * 256), 0};
                    World2Image16(&img, x, y, &in, nullptr);
                }
        });
    for (auto& w : workers) w.join();
    for (A_long y = 0; y < kSide; ++y)
        for (A_long x = 0; x < kSide; ++x) {
            PF_Pixel16 out{};
            Image2World16(&img, x, y, nullptr, &out);
            ASSERT_EQ(out, (PF_Pixel16{32768, A_u_short(x * 256), A_u_short(y * 256), 0}))
                << x << "," << y;
        }
}
