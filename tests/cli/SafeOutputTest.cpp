// The front end's files: outputs that are whole or absent (a full disk, a
// read-only folder, a failing writer) and EXR files that keep their windows,
// pixel aspect, half channels and layers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <Imath/half.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "files/ImageFiles.h"
#include "files/SafeFile.h"
#include "run/StopSignals.h"

namespace fs = std::filesystem;

namespace TEV::Host::Cli {
namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Names in `folder`, hidden ones included.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The exception of type E that `f` throws, if any.
template <class E>
std::optional<E> caught(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    return std::nullopt;
}

PixelWorld picture(int width, int height, int depth) {
    PixelWorld world(width, height, depth);
    world.fillGradient();
    return world;
}

// Pixels that do not compress, so that a file's size is about its pixels'.
PixelWorld noise(int width, int height) {
    PixelWorld world(width, height, 32);
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / float(1 << 24);
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) world.pixelFloat(x, y) = PF_PixelFloat{next(), next(), next(), next()};
    }
    return world;
}

// A small tmpfs, mounted for one test; skips the test where mounting is not permitted.
class SmallDisk {
public:
    SmallDisk(const std::string& folder, const std::string& options) : folder_(folder) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        mounted_ = mount("tevtest", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_) reason_ = std::strerror(errno);
    }
    ~SmallDisk() {
        if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }

private:
    std::string folder_;
    bool mounted_ = false;
    std::string reason_;
};

TEST(SafeOutput, AFailedWriteLeavesTheEarlierFileAndNoTemporaryOne) {
    const std::string dir = "safe_output_test/failing";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir + "/frame.png") << "earlier run";
    EXPECT_THROW(replaceFile(dir + "/frame.png",
                             [](const std::string& temp) {
                                 std::ofstream(temp) << "half a fr";
                                 throw WriteError("injected", ENOSPC);
                             }),
                 WriteError);
    EXPECT_EQ(readText(dir + "/frame.png"), "earlier run");
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"frame.png"});

    writeImage(dir + "/frame.png", picture(8, 6, 8), 8);
    EXPECT_EQ(readImage(dir + "/frame.png").world.width(), 8);
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"frame.png"});
    EXPECT_EQ(fs::status(dir + "/frame.png").permissions() & fs::perms::others_read, fs::perms::others_read)
        << "outputs get the usual permissions, not the temporary file's 0600";
}

TEST(SafeOutput, TemporariesLeftByAKilledRunAreRemovedForTheRunsOwnOutputsOnly) {
    const std::string dir = "safe_output_test/left";
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const char* name : {".f_0001.png.tev-Ab12Cd", ".f_0002.png.tev-x", ".other.png.tev-Ab12Cd", "f_0001.png"}) {
        std::ofstream(dir + "/" + name) << "x";
    }
    EXPECT_EQ(removeLeftTemporaries({dir + "/f_0001.png", dir + "/f_0002.png"}),
              std::vector<std::string>{dir + "/.f_0001.png.tev-Ab12Cd"});
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{".f_0002.png.tev-x", ".other.png.tev-Ab12Cd", "f_0001.png"}));
}

// Writes `count` files at once, each inside the write of the one before.
void writeNested(const std::string& dir, int count, const std::function<void()>& innermost) {
    replaceFile(dir + "/frame_" + std::to_string(count) + ".png", [&](const std::string& temp) {
        std::ofstream(temp) << "half a fr";
        if (count > 1) writeNested(dir, count - 1, innermost);
        else innermost();
    });
}

TEST(SafeOutput, ASecondStopSignalDuringWritesRemovesEveryTemporaryFileSaysSoAndEndsTheProcess) {
    const std::string dir = "safe_output_test/second_signal";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir + "/frame.png") << "earlier run";
    // The first Ctrl-C only asks for a stop; the second, half-way through
    // more writes than a fixed table held, ends the process by that signal,
    // without the half-written files.
    EXPECT_EXIT(
        {
            StopSignals signals;
            writeNested(dir, 70, [] {
                raise(SIGINT);
                if (StopSignals::received() != SIGINT) _exit(10);
                raise(SIGINT);
                _exit(11);  // not reached: the second signal ends the process
            });
            _exit(12);
        },
        ::testing::KilledBySignal(SIGINT), "tev-host: a second SIGINT: stopped at once, writes in progress removed");
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"frame.png"});
    EXPECT_EQ(readText(dir + "/frame.png"), "earlier run");
}

TEST(SafeOutput, ANameNearTheFileSystemsLimitIsWrittenUnderItsOwnName) {
    const std::string dir = "safe_output_test/long_name";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string name = std::string(250, 'n') + ".png";  // 254 bytes
    writeImage(dir + "/" + name, picture(8, 6, 8), 8);
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{name});
}

TEST(SafeOutput, AFullDiskLeavesNoPartialFileAndSaysItWillRepeat) {
    const std::string dir = "safe_output_test/full";
    SmallDisk disk(dir, "size=96k");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk.reason() << "); needs root";
    for (const char* name : {"big.exr", "big.png"}) {
        SCOPED_TRACE(name);
        const auto e = caught<WriteError>([&] { writeImage(dir + "/" + name, noise(200, 200), 16); });
        ASSERT_TRUE(e) << "the write into a full disk did not fail";
        EXPECT_EQ(e->errorNumber(), ENOSPC) << e->what();
        EXPECT_TRUE(repeatsForEveryFile(e->errorNumber()));
        EXPECT_NE(std::string(e->what()).find("cannot write image '" + dir + "/" + name + "': No space left on device"),
                  std::string::npos)
            << e->what();
        EXPECT_TRUE(namesIn(dir).empty()) << "neither a partial file nor a temporary one is left";
    }
}

TEST(SafeOutput, AReadOnlyFolderIsFoundBeforeAnyWrite) {
    const std::string dir = "safe_output_test/read_only";
    SmallDisk disk(dir, "ro,size=64k");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk.reason() << "); needs root";
    const auto e = caught<WriteError>([&] { checkFolderWritable(dir); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->errorNumber(), EROFS);
    EXPECT_STREQ(e->what(), ("cannot write into output folder '" + dir + "': Read-only file system").c_str());
    EXPECT_NO_THROW(checkFolderWritable("."));
}

// An EXR with its data window inside a larger display window, a pixel aspect
// and half channels: R only, RGB, or a layer's RGB.
void writeTestExr(const std::string& path, const std::vector<std::string>& channels, Imf::PixelType type) {
    Imf::Header header(Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(39, 29)),
                       Imath::Box2i(Imath::V2i(5, 7), Imath::V2i(28, 22)), 2.0f);
    for (const std::string& c : channels) header.channels().insert(c, Imf::Channel(type));
    const int width = 24, height = 16;
    std::vector<float> floats(std::size_t(width) * height, 0.25f);
    std::vector<half> halves(floats.begin(), floats.end());
    const std::size_t size = type == Imf::HALF ? sizeof(half) : sizeof(float);
    char* data = type == Imf::HALF ? reinterpret_cast<char*>(halves.data()) : reinterpret_cast<char*>(floats.data());
    Imf::FrameBuffer buffer;
    char* base = data - (7 * width + 5) * std::ptrdiff_t(size);
    for (const std::string& c : channels) buffer.insert(c, Imf::Slice(type, base, size, size * width));
    Imf::OutputFile file(path.c_str(), header);
    file.setFrameBuffer(buffer);
    file.writePixels(height);
}

TEST(ExrLayoutSurvives, DataWindowDisplayWindowPixelAspectAndHalfChannels) {
    const std::string dir = "safe_output_test/exr";
    fs::remove_all(dir);
    fs::create_directories(dir);
    writeTestExr(dir + "/in.exr", {"R", "G", "B"}, Imf::HALF);
    const ImageFile in = readImage(dir + "/in.exr");
    ASSERT_EQ(in.world.width(), 24);  // the data window's pixels
    ASSERT_EQ(in.world.height(), 16);
    ASSERT_TRUE(in.exr);
    writeImage(dir + "/out.exr", in.world, 16, in.exr.get());

    Imf::InputFile out((dir + "/out.exr").c_str());
    EXPECT_EQ(out.header().dataWindow(), Imath::Box2i(Imath::V2i(5, 7), Imath::V2i(28, 22)));
    EXPECT_EQ(out.header().displayWindow(), Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(39, 29)));
    EXPECT_EQ(out.header().pixelAspectRatio(), 2.0f);
    for (const char* c : {"R", "G", "B", "A"}) {
        ASSERT_NE(out.header().channels().findChannel(c), nullptr) << c;
        EXPECT_EQ(out.header().channels().findChannel(c)->type, Imf::HALF) << c;
    }
    EXPECT_FLOAT_EQ(readImage(dir + "/out.exr").world.pixelFloat(23, 15).red, 0.25f);

    // Without a layout (a PNG's pixels, say) an EXR is full float at the origin.
    writeImage(dir + "/plain.exr", in.world, 16);
    Imf::InputFile plain((dir + "/plain.exr").c_str());
    EXPECT_EQ(plain.header().dataWindow(), Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(23, 15)));
    EXPECT_EQ(plain.header().channels().findChannel("R")->type, Imf::FLOAT);
}

TEST(ExrLayoutSurvives, MissingChannelsAndLayersAreNamed) {
    const std::string dir = "safe_output_test/exr_channels";
    fs::remove_all(dir);
    fs::create_directories(dir);
    writeTestExr(dir + "/r_only.exr", {"R"}, Imf::FLOAT);
    writeTestExr(dir + "/depth.exr", {"Z"}, Imf::FLOAT);
    writeTestExr(dir + "/layered.exr", {"diffuse.R", "diffuse.G", "diffuse.B", "gloss.R", "gloss.G", "gloss.B"},
                 Imf::HALF);
    auto message = [](const std::string& path, const std::string& layer = "") {
        const auto e = caught<HostError>([&] { readImage(path, layer); });
        return e ? std::string(e->what()) : std::string("<read without an error>");
    };
    EXPECT_EQ(message(dir + "/r_only.exr"),
              "cannot read image '" + dir + "/r_only.exr': it has no G, B channel (found only: R)");
    EXPECT_EQ(message(dir + "/depth.exr"),
              "cannot read image '" + dir + "/depth.exr': it has neither R, G, B nor Y channels (found only: Z)");
    EXPECT_EQ(message(dir + "/layered.exr"),
              "cannot read image '" + dir + "/layered.exr': it has neither R, G, B nor Y channels (found only: no "
              "channels); its layers: diffuse, gloss (pick one with --layer)");
    EXPECT_EQ(message(dir + "/layered.exr", "rim"),
              "cannot read image '" + dir + "/layered.exr': it has no layer 'rim' (layers: diffuse, gloss)");

    const ImageFile gloss = readImage(dir + "/layered.exr", "gloss");
    EXPECT_EQ(gloss.world.width(), 24);
    EXPECT_FLOAT_EQ(gloss.world.pixelFloat(0, 0).green, 0.25f);
    EXPECT_TRUE(gloss.exr->half);
}

}  // namespace
}  // namespace TEV::Host::Cli
