// The front end's image files: exact round trips, other writers' files, bad files.
#include <gtest/gtest.h>
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

#include <png.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <fstream>

#include "files/Downsample.h"
#include "files/ImageFiles.h"
#include "files/SampleScale.h"
#include "ThrownError.h"
#include "tevhost/HostError.h"

namespace fs = std::filesystem;

namespace TEV::Host::Cli {
namespace {

std::string temp(const std::string& name) {
    fs::create_directories("image_files_test");
    return "image_files_test/" + name;
}

bool sameWorld(const PixelWorld& a, const PixelWorld& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.depth() != b.depth()) return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const Rgba p = a.get(x, y), q = b.get(x, y);
            if (p.r != q.r || p.g != q.g || p.b != q.b || p.a != q.a) return false;
        }
    }
    return true;
}

TEST(HostSixteenBitScale, EveryHostValueSurvivesTheFileScaleAndBack) {
    for (unsigned v = 0; v <= 32768; ++v) {
        ASSERT_EQ(fileToHost16(hostToFile16(static_cast<std::uint16_t>(v))), v);
    }
    EXPECT_EQ(hostToFile16(32768), 65535);
    EXPECT_EQ(hostToFile16(40000), 65535);  // above full intensity counts as full
    EXPECT_EQ(fileToHost16(65535), 32768);
    EXPECT_EQ(fileToHost16(1), 1);  // 0.5 rounds up
    EXPECT_EQ(floatToFile(std::nanf(""), 8), 0);
    EXPECT_EQ(floatToFile(1.7f, 16), 65535);
    EXPECT_EQ(floatToFile(0.5f, 8), 128);
}

TEST(ImageFiles, PngAndExrRoundTripsAreExactAtTheirDepths) {
    // 8 bits: every value of every channel.
    PixelWorld w8(256, 3, 8);
    for (int x = 0; x < 256; ++x)
        for (int y = 0; y < 3; ++y) w8.pixel8(x, y) = PF_Pixel{A_u_char(255 - x), A_u_char(x), A_u_char(y * 80), 7};
    writeImage(temp("w8.png"), w8, 8);
    ImageFile r8 = readImage(temp("w8.png"));
    EXPECT_EQ(r8.file_bits, 8);
    EXPECT_TRUE(sameWorld(r8.world, w8));

    // 16 bits: every host value 0..32768.
    PixelWorld w16(257, 128, 16);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 257; ++x) {
            const A_u_short v = static_cast<A_u_short>(std::min(32768, y * 257 + x));
            w16.pixel16(x, y) = PF_Pixel16{A_u_short(32768 - v), v, A_u_short(v / 2), A_u_short(v % 3)};
        }
    writeImage(temp("w16.png"), w16, 16);
    ImageFile r16 = readImage(temp("w16.png"));
    EXPECT_EQ(r16.file_bits, 16);
    EXPECT_TRUE(sameWorld(r16.world, w16));

    // Floats, out of range ones included.
    PixelWorld w32(5, 4, 32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) w32.pixelFloat(x, y) = PF_PixelFloat{0.5f, x * 0.7f - 1.0f, y * 1e-7f, 3.25f};
    writeImage(temp("w32.EXR"), w32, 8);  // extensions in any case
    ImageFile r32 = readImage(temp("w32.EXR"));
    EXPECT_EQ(r32.file_bits, 32);
    EXPECT_TRUE(sameWorld(r32.world, w32));
}

TEST(ImageFiles, TheOverlayMarkIsKeptInPngAndExrHeaders) {
    PixelWorld w(4, 3, 8);
    ImageWriteOptions marked;
    marked.text.emplace_back(kVerdictTag, kOverlayVerdict);
    for (const char* name : {"marked.png", "marked.exr"}) {
        writeImage(temp(name), w, marked);
        EXPECT_EQ(readImageTag(temp(name), kVerdictTag), "overlay") << name;
        writeImage(temp(name), w, 8);  // rendered again: no mark
        EXPECT_EQ(readImageTag(temp(name), kVerdictTag), "") << name;
    }
    EXPECT_EQ(readImageTag(temp("no_such.png"), kVerdictTag), "");
}

TEST(ImageFiles, SixteenBitPngsAreBigEndianOnDiskAndOtherWritersFilesRead) {
    PixelWorld w16(2, 1, 16);
    w16.pixel16(0, 0) = PF_Pixel16{32768, 16384, 1, 32768};
    w16.pixel16(1, 0) = PF_Pixel16{0, 257, 32767, 0};
    writeImage(temp("be.png"), w16, 16);
    int width = 0, height = 0, channels = 0;
    stbi_us* pixels = stbi_load_16(temp("be.png").c_str(), &width, &height, &channels, 4);
    ASSERT_NE(pixels, nullptr);
    const std::vector<stbi_us> samples(pixels, pixels + 8);
    stbi_image_free(pixels);
    EXPECT_EQ(samples, (std::vector<stbi_us>{hostToFile16(16384), 2, 65535, 65535, hostToFile16(257), 65533, 0, 0}));

    // A grey PNG from another writer: grey spreads to RGB, alpha is opaque.
    const unsigned char grey[6] = {0, 50, 100, 150, 200, 255};
    ASSERT_TRUE(stbi_write_png(temp("grey.png").c_str(), 3, 2, 1, grey, 3));
    ImageFile g = readImage(temp("grey.png"));
    ASSERT_EQ(g.world.depth(), 8);
    EXPECT_EQ(g.world.pixel8(1, 1).red, 200);
    EXPECT_EQ(g.world.pixel8(1, 1).blue, 200);
    EXPECT_EQ(g.world.pixel8(1, 1).alpha, 255);

    // An EXR with luminance only.
    {
        Imf::Header header(2, 1);
        header.channels().insert("Y", Imf::Channel(Imf::FLOAT));
        Imf::OutputFile file(temp("y.exr").c_str(), header);
        float y[2] = {0.25f, 2.0f};
        Imf::FrameBuffer buffer;
        buffer.insert("Y", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(y), sizeof(float), 2 * sizeof(float)));
        file.setFrameBuffer(buffer);
        file.writePixels(1);
    }
    ImageFile e = readImage(temp("y.exr"));
    EXPECT_EQ(e.world.pixelFloat(1, 0).green, 2.0f);
    EXPECT_EQ(e.world.pixelFloat(0, 0).blue, 0.25f);
    EXPECT_EQ(e.world.pixelFloat(0, 0).alpha, 1.0f);
}

TEST(ImageFiles, BadFilesFailWithTheFileNamed) {
    {
        std::ofstream(temp("text.png")) << "hello";
        std::ofstream(temp("text.exr")) << "hello";
    }
    // A PNG cut short in its pixel data.
    PixelWorld w(64, 64, 8);
    w.fillGradient();
    writeImage(temp("whole.png"), w, 8);
    fs::copy_file(temp("whole.png"), temp("cut.png"), fs::copy_options::overwrite_existing);
    fs::resize_file(temp("cut.png"), fs::file_size(temp("whole.png")) / 2);

    for (const char* name : {"text.png", "text.exr", "cut.png", "absent.png"}) {
        SCOPED_TRACE(name);
        const HostError e = TEV::Test::thrownBy<HostError>([&] { readImage(temp(name)); });
        EXPECT_NE(std::string(e.what()).find(temp(name)), std::string::npos) << e.what();
    }
    EXPECT_THROW(readImage(temp("picture.jpg")), HostError);
    EXPECT_THROW(writeImage("no_such_folder/x.png", w, 8), HostError);
    EXPECT_FALSE(fs::exists("no_such_folder/x.png"));
}

TEST(ImageFiles, EveryPngLevelKeepsThePixelsAndTextChunksAreWritten) {
    // Smooth rows above noisy ones: the writer picks every kind of row filter.
    std::mt19937 random(7);
    PixelWorld w(97, 31, 8), w16(33, 9, 16);
    w.fillGradient();
    w16.fillGradient();
    for (int y = 12; y < w.height(); ++y) {
        for (int x = 0; x < w.width(); ++x) {
            const auto sample = [&] { return float(random() % 256) / 255.0f; };
            w.set(x, y, Rgba{sample(), sample(), sample(), sample()});
            if (x < w16.width() && y - 12 < w16.height()) w16.set(x, y - 12, Rgba{sample(), sample(), 0.5f, 1.0f});
        }
    }
    std::uintmax_t stored = 0, smallest = 0;
    for (int level : {0, 9}) {
        ImageWriteOptions options;
        options.png_level = level;
        options.png_bits = 16;
        writeImage(temp("level16.png"), w16, options);
        EXPECT_TRUE(sameWorld(readImage(temp("level16.png")).world, w16)) << level;
        options.png_bits = 8;
        options.text = {{"tev.note", "level " + std::to_string(level)}};
        writeImage(temp("level.png"), w, options);
        (level == 0 ? stored : smallest) = fs::file_size(temp("level.png"));
        EXPECT_TRUE(sameWorld(readImage(temp("level.png")).world, w)) << level;
        // The text chunk, read by libpng.
        std::FILE* f = std::fopen(temp("level.png").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_read_info(png, info);
        png_textp text = nullptr;
        int count = 0;
        png_get_text(png, info, &text, &count);
        ASSERT_EQ(count, 1);
        EXPECT_STREQ(text[0].key, "tev.note");
        EXPECT_EQ(std::string(text[0].text), "level " + std::to_string(level));
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
    }
    EXPECT_GT(stored, smallest + smallest / 2);
    ImageWriteOptions bad;
    bad.png_level = 10;
    EXPECT_THROW(writeImage(temp("level.png"), w, bad), HostError);
}

TEST(ImageFiles, OpenImageIoFormatsRoundTripAtTheirDepthsAndWriteOnlyTheirOwnMark) {
    PixelWorld w8(4, 3, 8), w16(4, 3, 16), w32(4, 3, 32);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            w8.pixel8(x, y) = PF_Pixel{255, A_u_char(60 * x), A_u_char(80 * y), 7};
            w16.pixel16(x, y) = PF_Pixel16{32768, A_u_short(8000 * x + 3), A_u_short(9000 * y), 1};
            w32.pixelFloat(x, y) = PF_PixelFloat{1.0f, x * 0.7f - 1.0f, y * 1e-7f, 3.25f};
        }
    }
    for (const auto& [name, world] : {std::pair{"w8.tif", &w8}, std::pair{"w16.tif", &w16},
                                      std::pair{"w32.tif", &w32}, std::pair{"w16.dpx", &w16}, std::pair{"w8.tga", &w8}}) {
        writeImage(temp(name), *world, 8);
        const ImageFile read = readImage(temp(name));
        EXPECT_EQ(read.file_bits, world->depth()) << name;
        EXPECT_TRUE(sameWorld(read.world, *world)) << name;
    }
    ImageWriteOptions marked;
    marked.text.emplace_back(kVerdictTag, kOverlayVerdict);
    for (const char* name : {"marked.tif", "marked.dpx", "marked.jpg", "marked.tga"}) {
        writeImage(temp(name), w8, marked);
        EXPECT_EQ(readImageTag(temp(name), kVerdictTag), "overlay") << name;
        // Rendered again from the marked file, its metadata passing through: no mark.
        ImageWriteOptions again;
        again.metadata = readImage(temp(name)).metadata;
        writeImage(temp(name), w8, again);
        EXPECT_EQ(readImageTag(temp(name), kVerdictTag), "") << name;
    }
    EXPECT_STREQ(TEV::Test::thrownBy<HostError>([] { readImage(temp("w8.tif"), "diffuse"); }).what(),
                 "image 'image_files_test/w8.tif' is not an EXR file: it has no layer 'diffuse'");
}

TEST(Downsample, AveragesBlocksAndKeepsTheRemainder) {
    PixelWorld w(5, 3, 16);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) w.pixel16(x, y) = PF_Pixel16{32768, A_u_short(1000 * x + 100 * y), 0, 0};
    const PixelWorld half = downsampled(w, 2);
    ASSERT_EQ(half.width(), 3);
    ASSERT_EQ(half.height(), 2);
    EXPECT_EQ(half.pixel16(0, 0).red, 550);   // (0 + 1000 + 100 + 1100) / 4
    EXPECT_EQ(half.pixel16(2, 0).red, 4050);  // the last column alone: (4000 + 4100) / 2
    EXPECT_EQ(half.pixel16(2, 1).red, 4200);  // the last pixel alone
    EXPECT_TRUE(sameWorld(downsampled(w, 1), w));
}

}  // namespace
}  // namespace TEV::Host::Cli
