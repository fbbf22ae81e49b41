// What an EXR file holds beside the pixels the effect renders passes through
// to the output: other channels and layers, other parts, compression,
// attributes; --downsample scales windows and every channel together, on the
// absolute pixel grid, and picks unsigned ints; an input's mark never passes.
#include <gtest/gtest.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfStringAttribute.h>
#include <Imath/half.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "command/Commands.h"
#include "files/ImageFiles.h"

namespace fs = std::filesystem;

namespace TEV::Host::Cli {
namespace {

// A distinct value for every channel (by its index k) and pixel, exact in
// half, float and unsigned int.
double valueAt(int k, int x, int y) { return k * 64 + x + 32 * y; }

struct TestPart {
    Imf::Header header;
    std::vector<std::pair<std::string, Imf::PixelType>> channels;
};

TestPart testPart(const char* name, Imath::Box2i data, Imath::Box2i display, Imf::Compression compression,
                  std::vector<std::pair<std::string, Imf::PixelType>> channels) {
    TestPart part{Imf::Header(display, data), std::move(channels)};
    part.header.setName(name);
    part.header.setType(Imf::SCANLINEIMAGE);
    part.header.compression() = compression;
    for (const auto& [c, type] : part.channels) part.header.channels().insert(c, Imf::Channel(type));
    return part;
}

// Every channel's samples as doubles, row after row over its data window.
using Samples = std::map<std::string, std::vector<double>>;

// A channel's sample at (x, y) on the absolute pixel grid.
using Fill = std::function<double(const std::string& channel, int x, int y)>;

// Samples from `fill`; without it, valueAt() of the channel's index and the
// pixel's place in its data window.
void writeParts(const std::string& path, const std::vector<TestPart>& parts, const Fill& fill = {}) {
    std::vector<Imf::Header> headers;
    for (const TestPart& p : parts) headers.push_back(p.header);
    Imf::MultiPartOutputFile file(path.c_str(), headers.data(), int(headers.size()));
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const Imath::Box2i box = parts[p].header.dataWindow();
        const int w = box.max.x - box.min.x + 1, h = box.max.y - box.min.y + 1;
        std::vector<std::vector<float>> floats;
        std::vector<std::vector<half>> halves;
        std::vector<std::vector<unsigned>> uints;
        Imf::FrameBuffer buffer;
        for (std::size_t k = 0; k < parts[p].channels.size(); ++k) {
            const auto& [name, type] = parts[p].channels[k];
            std::vector<double> v;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    v.push_back(fill ? fill(name, box.min.x + x, box.min.y + y) : valueAt(int(k), x, y));
                }
            }
            char* data = nullptr;
            std::size_t size = 4;
            if (type == Imf::HALF) {
                halves.emplace_back(v.begin(), v.end());
                data = reinterpret_cast<char*>(halves.back().data()), size = 2;
            } else if (type == Imf::FLOAT) {
                floats.emplace_back(v.begin(), v.end());
                data = reinterpret_cast<char*>(floats.back().data());
            } else {
                uints.emplace_back(v.begin(), v.end());
                data = reinterpret_cast<char*>(uints.back().data());
            }
            buffer.insert(name, Imf::Slice(type, data - (std::ptrdiff_t(box.min.y) * w + box.min.x) * std::ptrdiff_t(size),
                                           size, size * w));
        }
        Imf::OutputPart out(file, int(p));
        out.setFrameBuffer(buffer);
        out.writePixels(h);
    }
}

// Every channel of part `p`, read as float.
Samples readPart(Imf::MultiPartInputFile& file, int p) {
    const Imath::Box2i box = file.header(p).dataWindow();
    const int w = box.max.x - box.min.x + 1, h = box.max.y - box.min.y + 1;
    std::map<std::string, std::vector<float>> floats;
    Imf::FrameBuffer buffer;
    const Imf::ChannelList& channels = file.header(p).channels();
    for (Imf::ChannelList::ConstIterator c = channels.begin(); c != channels.end(); ++c) {
        std::vector<float>& v = floats[c.name()];
        v.assign(std::size_t(w) * h, -1.0f);
        buffer.insert(c.name(), Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(v.data()) -
                                                           (std::ptrdiff_t(box.min.y) * w + box.min.x) * 4,
                                           4, 4 * std::size_t(w)));
    }
    Imf::InputPart in(file, p);
    in.setFrameBuffer(buffer);
    in.readPixels(box.min.y, box.max.y);
    Samples samples;
    for (auto& [name, v] : floats) samples[name] = std::vector<double>(v.begin(), v.end());
    return samples;
}

std::map<std::string, Imf::PixelType> typesOf(const Imf::Header& header) {
    std::map<std::string, Imf::PixelType> types;
    for (Imf::ChannelList::ConstIterator c = header.channels().begin(); c != header.channels().end(); ++c) {
        types[c.name()] = c.channel().type;
    }
    return types;
}

const Imath::Box2i kData(Imath::V2i(5, 7), Imath::V2i(28, 22));  // 24 x 16
const Imath::Box2i kDisplay(Imath::V2i(0, 0), Imath::V2i(39, 29));

// A beauty part (RGB, a depth, a normal, an id and a second layer) and a
// mattes part of another size and compression.
std::vector<TestPart> testFile() {
    return {testPart("beauty", kData, kDisplay, Imf::PIZ_COMPRESSION,
                     {{"B", Imf::HALF}, {"G", Imf::HALF}, {"R", Imf::HALF}, {"N.X", Imf::HALF},
                      {"depth.Z", Imf::FLOAT}, {"diffuse.B", Imf::HALF}, {"diffuse.G", Imf::HALF},
                      {"diffuse.R", Imf::HALF}, {"id", Imf::UINT}}),
            testPart("mattes", Imath::Box2i(Imath::V2i(-3, 0), Imath::V2i(6, 5)), kDisplay, Imf::ZIP_COMPRESSION,
                     {{"M.A", Imf::HALF}, {"M.B", Imf::FLOAT}})};
}

std::string folder(const std::string& name) {
    const std::string dir = "exr_pass_through_test/" + name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(ExrPassThrough, ChannelsLayersPartsAndAttributesTheEffectDoesNotRenderAreKept) {
    const std::string dir = folder("kept");
    std::vector<TestPart> parts = testFile();
    parts[0].header.insert("owner", Imf::StringAttribute("plate dept"));
    writeParts(dir + "/in.exr", parts);

    for (const std::string layer : {"", "diffuse"}) {
        const ImageFile in = readImage(dir + "/in.exr", layer);
        ImageWriteOptions options;
        options.text = {{"tev.note", "marked"}};
        const std::string out = dir + "/out_" + layer + ".exr";
        writeImage(out, in.world, options, in.exr.get());

        Imf::MultiPartInputFile file(out.c_str());
        ASSERT_EQ(file.parts(), 2) << layer;
        std::map<std::string, Imf::PixelType> expected = typesOf(parts[0].header);
        expected[layer.empty() ? "A" : "diffuse.A"] = Imf::HALF;  // the render's alpha joins its colours
        EXPECT_EQ(typesOf(file.header(0)), expected) << layer;
        EXPECT_EQ(typesOf(file.header(1)), typesOf(parts[1].header));
        EXPECT_EQ(file.header(0).compression(), Imf::PIZ_COMPRESSION);
        EXPECT_EQ(file.header(1).compression(), Imf::ZIP_COMPRESSION);
        EXPECT_EQ(file.header(0).name(), "beauty");
        EXPECT_EQ(file.header(1).dataWindow(), parts[1].header.dataWindow());
        EXPECT_EQ(file.header(0).typedAttribute<Imf::StringAttribute>("owner").value(), "plate dept");
        EXPECT_EQ(file.header(0).typedAttribute<Imf::StringAttribute>("tev.note").value(), "marked");

        // Every sample written comes back: passed through, or rendered (the world read).
        Samples written = readPart(file, 0);
        const Samples mattes = readPart(file, 1);
        for (std::size_t k = 0; k < parts[0].channels.size(); ++k) {
            const std::string& name = parts[0].channels[k].first;
            ASSERT_EQ(written[name].size(), 24u * 16u) << name;
            EXPECT_EQ(written[name][24 * 5 + 7], valueAt(int(k), 7, 5)) << layer << " " << name;
            EXPECT_EQ(written[name].back(), valueAt(int(k), 23, 15)) << layer << " " << name;
        }
        EXPECT_EQ(mattes.at("M.B")[10 * 3 + 4], valueAt(1, 4, 3));
    }
}

TEST(ExrPassThrough, DownsampleScalesWindowsAndEveryChannelAndCompressionCanBeChosen) {
    const std::string dir = folder("downsample");
    const std::vector<TestPart> parts = testFile();
    writeParts(dir + "/in.exr", parts);
    std::vector<std::string> words = {"tev-host", "render", TEST_EFFECT_PATH, "--in", dir + "/in.exr",
                                      "--out", dir + "/out.exr", "--downsample", "2", "--exr-compression", "rle",
                                      "--log", dir + "/none.log"};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    const CliOptions options = parseCommandLine(int(argv.size()), argv.data());
    std::ostringstream out, err;
    ASSERT_EQ(renderImage(options, out, err), kExitOk) << out.str() << err.str();

    Imf::MultiPartInputFile file((dir + "/out.exr").c_str());
    ASSERT_EQ(file.parts(), 2);
    // 5..28 x 7..22 in 0..39 x 0..29 at 1/2: 2..14 x 3..11 in 0..19 x 0..14.
    ASSERT_EQ(file.header(0).dataWindow(), Imath::Box2i(Imath::V2i(2, 3), Imath::V2i(14, 11)));
    EXPECT_EQ(file.header(0).displayWindow(), Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(19, 14)));
    // -3..6 x 0..5: -2..3 x 0..2.
    ASSERT_EQ(file.header(1).dataWindow(), Imath::Box2i(Imath::V2i(-2, 0), Imath::V2i(3, 2)));
    EXPECT_EQ(file.header(0).compression(), Imf::RLE_COMPRESSION);
    EXPECT_EQ(file.header(1).compression(), Imf::RLE_COMPRESSION);
    const Samples beauty = readPart(file, 0);
    // The mean of the 2 x 2 block whose top-left is (x, y) in the input's data window.
    auto mean = [](int k, int x, int y) {
        return (valueAt(k, x, y) + valueAt(k, x + 1, y) + valueAt(k, x, y + 1) + valueAt(k, x + 1, y + 1)) / 4;
    };
    // Output (2 + i, 3 + j) covers the input's 4 + 2i.., 6 + 2j..: x = 2i - 1, y = 2j - 1 in the window.
    EXPECT_EQ(beauty.at("depth.Z")[13 * 3 + 5], mean(4, 9, 5));
    EXPECT_EQ(beauty.at("N.X")[13 * 7 + 11], mean(3, 21, 13));
    EXPECT_EQ(beauty.at("N.X")[0], valueAt(3, 0, 0));  // a block the window cuts to one pixel
    EXPECT_EQ(beauty.at("id")[13 * 2 + 1], valueAt(8, 1, 3));  // picked: the block's top-left
    EXPECT_NEAR(beauty.at("R")[13 * 3 + 5], mean(2, 9, 5), 0.1);
    // Output (-2 + i, j) covers -4 + 2i.., 2j..: x = 2i - 1, y = 2j.
    EXPECT_EQ(readPart(file, 1).at("M.B")[6 * 2 + 4], mean(1, 7, 4));

    words[10] = "lzw";
    argv.clear();
    for (std::string& w : words) argv.push_back(w.data());
    EXPECT_THROW(parseCommandLine(int(argv.size()), argv.data()), std::invalid_argument);
}

int renderCommand(std::vector<std::string> words, std::string* output = nullptr) {
    words.insert(words.begin(), {"tev-host", "render", TEST_EFFECT_PATH});
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    std::ostringstream out, err;
    const int status = renderImage(parseCommandLine(int(argv.size()), argv.data()), out, err);
    if (output) *output = out.str() + err.str();
    return status;
}

// Object ids 3 and 7 in a one-pixel checker on the absolute grid, and a ramp
// in every float channel, in two parts whose data windows start at odd and at
// negative corners: every id comes out 3 or 7, and both parts' blocks cover
// the same pixels of the picture.
TEST(ExrPassThrough, DownsampleBlocksLieOnThePixelGridAndIdsArePicked) {
    const std::string dir = folder("grid");
    const Imath::Box2i display(Imath::V2i(0, 0), Imath::V2i(9, 9));
    writeParts(dir + "/in.exr",
               {testPart("beauty", Imath::Box2i(Imath::V2i(1, 1), Imath::V2i(8, 8)), display, Imf::ZIP_COMPRESSION,
                         {{"R", Imf::FLOAT}, {"G", Imf::FLOAT}, {"B", Imf::FLOAT}, {"id", Imf::UINT}}),
                testPart("mattes", Imath::Box2i(Imath::V2i(-2, 0), Imath::V2i(9, 9)), display, Imf::ZIP_COMPRESSION,
                         {{"M", Imf::FLOAT}, {"id", Imf::UINT}})},
               [](const std::string& channel, int x, int y) {
                   return channel == "id" ? ((x + y) & 1 ? 7.0 : 3.0) : x + 100.0 * y;
               });
    std::string output;
    ASSERT_EQ(renderCommand({"--in", dir + "/in.exr", "--out", dir + "/out.exr", "--downsample", "2", "--log",
                             dir + "/none.log"},
                            &output),
              kExitOk)
        << output;

    Imf::MultiPartInputFile file((dir + "/out.exr").c_str());
    ASSERT_EQ(file.parts(), 2);
    const Imath::Box2i beauty_box(Imath::V2i(0, 0), Imath::V2i(4, 4));
    const Imath::Box2i mattes_box(Imath::V2i(-1, 0), Imath::V2i(4, 4));
    ASSERT_EQ(file.header(0).dataWindow(), beauty_box);
    ASSERT_EQ(file.header(1).dataWindow(), mattes_box);
    EXPECT_EQ(file.header(0).displayWindow(), Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(4, 4)));
    const Samples beauty = readPart(file, 0), mattes = readPart(file, 1);
    for (const auto& [samples, box] : {std::pair{&beauty, beauty_box}, std::pair{&mattes, mattes_box}}) {
        const int w = box.max.x - box.min.x + 1;
        for (double id : samples->at("id")) EXPECT_TRUE(id == 3 || id == 7) << id;
        // Whole blocks: 2x..2x+1 x 2y..2y+1 of the picture, whichever part holds them.
        for (int y = 1; y <= 3; ++y) {
            for (int x = 1; x <= 3; ++x) {
                const std::size_t at = std::size_t(y - box.min.y) * w + (x - box.min.x);
                EXPECT_EQ(samples->at("id")[at], 3) << x << ", " << y;
                EXPECT_EQ(samples->count("M") ? samples->at("M")[at] : samples->at("R")[at],
                          2 * x + 0.5 + 100 * (2 * y + 0.5))
                    << x << ", " << y;
            }
        }
    }
}

// A frame written with the overlay mark, used as the input of a later render:
// that render's good output is not marked, so a resume does not redo it.
TEST(ExrPassThrough, AnInputsOverlayMarkDoesNotPassToTheOutput) {
    const std::string dir = folder("mark");
    std::vector<TestPart> parts = testFile();
    parts[0].header.insert("owner", Imf::StringAttribute("plate dept"));
    parts[0].header.insert(kVerdictTag, Imf::StringAttribute(kOverlayVerdict));
    parts[1].header.insert(kVerdictTag, Imf::StringAttribute(kOverlayVerdict));
    writeParts(dir + "/in.exr", parts);
    ASSERT_EQ(readImageTag(dir + "/in.exr", kVerdictTag), kOverlayVerdict);
    ASSERT_EQ(renderCommand({"--in", dir + "/in.exr", "--out", dir + "/out.exr", "--log", dir + "/none.log"}), kExitOk);
    EXPECT_EQ(readImageTag(dir + "/out.exr", kVerdictTag), "");
    Imf::MultiPartInputFile file((dir + "/out.exr").c_str());
    EXPECT_EQ(file.header(0).typedAttribute<Imf::StringAttribute>("owner").value(), "plate dept");
    std::string output;
    ASSERT_EQ(renderCommand({"--in", dir + "/in.exr", "--out", dir + "/out.exr", "--log", dir + "/none.log",
                             "--skip-existing"},
                            &output),
              kExitOk);
    EXPECT_NE(output.find("output exists"), std::string::npos) << output;
}

}  // namespace
}  // namespace TEV::Host::Cli
