// tev-host render with the real plug-in and server: sequences at every
// depth and in the formats of other tools (files oiiotool writes), previews, the failure overlay's report and resume, outages that
// heal, clear errors, Ctrl-C.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "command/Commands.h"
#include "files/Downsample.h"
#include "frames/FrameList.h"
#include "EndToEndFixture.h"
#include "FrontEndChild.h"
#include "files/ImageFiles.h"
#include "SampleClip.h"

namespace fs = std::filesystem;

namespace TEV::E2e {
namespace {

using namespace Host::Cli;

struct CliRun {
    int status = -1;
    std::string out, err;
};

CliRun render(std::vector<std::string> words) {
    words.insert(words.begin(), {"tev-host", "render", pluginPath()});
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    const CliOptions options = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    std::ostringstream out, err;
    CliRun run;
    run.status = renderImage(options, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// A fresh folder in the build tree for one case.
std::string scratch(const std::string& name) {
    const fs::path dir = fs::current_path() / "e2e_front_end" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

const Adjustment kAdjust{1.25f, 1.3f, 0.6f};
const std::vector<std::string> kSet{"--set", "Brightness=1.25", "--set", "Contrast=1.3", "--set", "Saturation=0.6"};

std::vector<std::string> with(std::vector<std::string> words, const std::vector<std::string>& more) {
    words.insert(words.end(), more.begin(), more.end());
    return words;
}

TEST_F(EndToEnd, FrontEndRendersSequencesAtEveryDepthIntoFilesHoldingTheAdjustment) {
    const std::string dir = scratch("depths");
    writeSampleClip(dir + "/clip", 96, 54, 3);
    struct Case {
        const char* in;
        const char* out;
        int depth;
    };
    for (const Case& c : {Case{"png8/clip_%04d.png", "out8/f_%04d.png", 8},
                          Case{"png16/clip_%04d.png", "out16/f_%04d.png", 16},
                          Case{"exr/clip_%04d.exr", "out32/f_%04d.exr", 32}}) {
        SCOPED_TRACE(c.in);
        // No --depth: the input files choose it.
        const CliRun run = render(with({"--in", dir + "/clip/" + c.in, "--out", dir + "/" + c.out, "--threads", "2"}, kSet));
        ASSERT_EQ(run.status, kExitOk) << run.out << run.err;
        EXPECT_NE(run.out.find("at " + std::to_string(c.depth) + " bits"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("3 of 3 frames written"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("3 processed"), std::string::npos) << run.out;
        const NumberPattern in = *NumberPattern::parse(dir + "/clip/" + c.in);
        const NumberPattern out = *NumberPattern::parse(dir + "/" + c.out);
        for (int n = 1; n <= 3; ++n) {
            const ImageFile input = readImage(in.format(n));
            const ImageFile output = readImage(out.format(n));
            ASSERT_EQ(input.file_bits, c.depth);
            ASSERT_EQ(output.file_bits, c.depth);  // PNG outputs follow the render's depth
            // The file round trip is exact at every depth, so the files hold the host's output.
            EXPECT_EQ(firstDifference(output.world, expectedOutput(input.world, kAdjust)), "") << "frame " << n;
        }
    }
}

TEST_F(EndToEnd, FrontEndInThePremiereProfileRendersTheClipAt8And16BitsExactlyAsInTheAfterEffectsProfile) {
    const std::string dir = scratch("premiere");
    writeSampleClip(dir + "/clip", 96, 54, 2);
    for (const char* depth : {"8", "16"}) {
        SCOPED_TRACE(depth);
        const std::string in = dir + "/clip/png" + depth + "/clip_%04d.png";
        const std::string ae = dir + "/ae" + depth + "/f_%04d.png", pr = dir + "/pr" + depth + "/f_%04d.png";
        const CliRun by_ae = render(with({"--in", in, "--out", ae}, kSet));
        ASSERT_EQ(by_ae.status, kExitOk) << by_ae.out << by_ae.err;
        const CliRun by_pr = render(with({"--premiere", "--in", in, "--out", pr}, kSet));
        ASSERT_EQ(by_pr.status, kExitOk) << by_pr.out << by_pr.err;
        EXPECT_NE(by_pr.out.find("2 processed"), std::string::npos) << by_pr.out;
        for (int n = 1; n <= 2; ++n) {
            const ImageFile input = readImage(NumberPattern::parse(in)->format(n));
            const ImageFile from_pr = readImage(NumberPattern::parse(pr)->format(n));
            EXPECT_EQ(from_pr.file_bits, std::stoi(depth));
            EXPECT_EQ(firstDifference(from_pr.world, readImage(NumberPattern::parse(ae)->format(n)).world), "")
                << "frame " << n;
            EXPECT_EQ(firstDifference(from_pr.world, expectedOutput(input.world, kAdjust)), "") << "frame " << n;
        }
    }
    // A float clip can't be processed without smart rendering: written as it came, and said so.
    const CliRun by_pr = render(with({"--premiere", "--in", dir + "/clip/exr/clip_0001.exr", "--out",
                                      dir + "/pr32.exr"}, kSet));
    EXPECT_EQ(by_pr.status, kExitOk) << by_pr.out << by_pr.err;
    EXPECT_NE(by_pr.out.find("unchanged"), std::string::npos) << by_pr.out;
    EXPECT_EQ(firstDifference(readImage(dir + "/pr32.exr").world, readImage(dir + "/clip/exr/clip_0001.exr").world),
              "");
}

TEST_F(EndToEnd, FrontEndRendersAHalfSizePreviewWithTheHostsDownsample) {
    const std::string dir = scratch("preview");
    writeSampleClip(dir + "/clip", 101, 57, 1);
    const CliRun run = render(with({"--in", dir + "/clip/png16/clip_0001.png", "--out", dir + "/half.png",
                                 "--downsample", "2"}, kSet));
    ASSERT_EQ(run.status, kExitOk) << run.out << run.err;
    const PixelWorld half = downsampled(readImage(dir + "/clip/png16/clip_0001.png").world, 2);
    const ImageFile output = readImage(dir + "/half.png");
    ASSERT_EQ(output.world.width(), 51);
    ASSERT_EQ(output.world.height(), 29);
    EXPECT_EQ(firstDifference(output.world, expectedOutput(half, kAdjust)), "");
}

TEST_F(EndToEnd, FrontEndNamesTheFailureOverlayAndExitsWith3) {
    const std::string dir = scratch("overlay");
    writeSampleClip(dir + "/clip", 160, 90, 1);
    const CliRun run = render({"--in", dir + "/clip/png8/clip_0001.png", "--out", dir + "/refused.png", "--set",
                            "Type=Tensor(GPU)"});
    EXPECT_EQ(run.status, kExitOverlay) << run.out << run.err;
    EXPECT_NE(run.out.find("overlay: Error in Tevora Plugin / Tensor(GPU) is not available on this machine"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("1 overlay"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(dir + "/refused.png")) << "an overlay frame is still written";
}

TEST_F(EndToEnd, FrontEndTellsAnOverlayWithoutTheLogMarksItAndResumeRendersItAgain) {
    const std::string dir = scratch("overlay_without_log");
    writeSampleClip(dir + "/clip", 160, 90, 1);
    const std::string in = dir + "/clip/png8/clip_0001.png", out = dir + "/refused.png";
    const CliRun refused =
        render({"--in", in, "--out", out, "--set", "Type=Tensor(GPU)", "--log", dir + "/missing.log"});
    EXPECT_EQ(refused.status, kExitOverlay) << refused.out << refused.err;
    EXPECT_NE(refused.out.find("1 overlay"), std::string::npos) << refused.out;
    EXPECT_NE(refused.err.find("warning: the log '" + dir + "/missing.log' does not exist"), std::string::npos)
        << refused.err;
    EXPECT_EQ(readImageTag(out, kVerdictTag), kOverlayVerdict);

    // Resumed: the marked frame is rendered again; a finished one is left.
    const CliRun resumed = render(with({"--in", in, "--out", out, "--skip-existing"}, kSet));
    EXPECT_EQ(resumed.status, kExitOk) << resumed.out << resumed.err;
    EXPECT_NE(resumed.out.find("1 processed"), std::string::npos) << resumed.out;
    EXPECT_EQ(readImageTag(out, kVerdictTag), "");
    const CliRun again = render(with({"--in", in, "--out", out, "--skip-existing"}, kSet));
    EXPECT_NE(again.out.find("1 skipped"), std::string::npos) << again.out;
}

TEST_F(EndToEnd, FrontEndPressesReconnectAndRendersTheFrameAgainWhenTheServerCanStartAgain) {
    const std::string dir = scratch("outage");
    writeSampleClip(dir + "/clip", 96, 54, 3);
    HiddenRuntime hidden;  // the first frame can't start the server: "Can't connect"
    const std::string in = dir + "/clip/png8/clip_%04d.png", out = dir + "/out/f_%04d.png";
    FrontEndChild run(dir, {"render", pluginPath(), "--in", in, "--out", out, "--retry-pause", "0.5", "--set",
                            "Brightness=1.25", "--set", "Contrast=1.3", "--set", "Saturation=0.6"});
    const bool reconnected = run.waitForText("pressing Reconnect");
    hidden.restore();  // the outage ends
    const int status = run.wait();
    const std::string text = run.out() + run.err();
    ASSERT_TRUE(reconnected) << text;
    EXPECT_EQ(status, kExitOk) << text;
    EXPECT_NE(text.find("frame 1 shows \"Can't connect"), std::string::npos) << text;
    EXPECT_NE(text.find("3 processed"), std::string::npos) << text;
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(firstDifference(readImage(NumberPattern::parse(out)->format(n)).world,
                                  expectedOutput(readImage(NumberPattern::parse(in)->format(n)).world, kAdjust)),
                  "")
            << "frame " << n;
    }
}

TEST_F(EndToEnd, FrontEndGivesClearErrorsForBadFilesAndParameters) {
    const std::string dir = scratch("errors");
    writeSampleClip(dir + "/clip", 32, 18, 1);
    const std::string good = dir + "/clip/png8/clip_0001.png";
    {
        std::ofstream(dir + "/broken.png") << "not a picture at all";
    }
    struct Case {
        std::vector<std::string> words;
        std::string message;
    } cases[] = {
        {{"--in", dir + "/missing.png", "--out", dir + "/o.png"}, "input '" + dir + "/missing.png' does not exist"},
        {{"--in", dir + "/none_%04d.png", "--out", dir + "/o_%04d.png"}, "no file matches '" + dir + "/none_%04d.png'"},
        {{"--in", dir + "/broken.png", "--out", dir + "/o.png"}, "cannot read image '" + dir + "/broken.png': "},
        {{"--in", good, "--out", dir + "/o.png", "--set", "Brightnes=1"}, "no parameter named \"Brightnes\""},
        {{"--in", good, "--out", dir + "/o.png", "--set", "Brightness=3"}, "(\"Brightness\"): value 3 outside 0 .. 2"},
        {{"--in", good, "--out", dir + "/o.png", "--set", "Type=Quantum"}, "popup \"Type\" has no choice \"Quantum\""},
        {{"--in", good, "--out", dir + "/o.png", "--set", "Type=7"}, "(\"Type\"): value 7 outside 1 .. 6"},
        {{"--in", dir + "/clip/png8", "--out", dir + "/one.png", "--frames", "5-6"}, "no frame of"},
    };
    for (const Case& c : cases) {
        const CliRun run = render(c.words);
        EXPECT_EQ(run.status, kExitFailed) << c.message;
        EXPECT_EQ(run.err.rfind("tev-host: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(dir + "/o.png"));
    // An output the front end cannot write is a mistake of the command line.
    EXPECT_THROW(render({"--in", good, "--out", dir + "/o.gif"}), std::invalid_argument);
}

TEST_F(EndToEnd, FrontEndCtrlCAbortsTheFrameInFlightAndKeepsTheFinishedOnes) {
    const std::string dir = scratch("interrupt");
    fs::create_directories(dir + "/in");
    for (int n = 1; n <= 4; ++n) {
        writeExrFile(dir + "/in/big_000" + std::to_string(n) + ".exr", sampleFrame(2400, 1350, n, 4));
    }
    FrontEndChild run(dir, {"render", pluginPath(), "--in", dir + "/in/big_%04d.exr", "--out",
                            dir + "/out/big_%04d.exr", "--set", "Brightness=1.1"});
    // Interrupt once the first frame is written, while the second renders.
    ASSERT_TRUE(run.waitForText("frame 1 ")) << run.out() << run.err();
    run.signal(SIGINT);
    const int status = run.wait();
    const std::string text = run.out() + run.err();
    EXPECT_EQ(status, 128 + SIGINT) << text;
    EXPECT_NE(text.find("aborted (not written)"), std::string::npos) << text;
    EXPECT_NE(text.find("not started"), std::string::npos) << text;
    // The finished frame is complete; the interrupted ones are not there.
    EXPECT_EQ(readImage(dir + "/out/big_0001.exr").world.width(), 2400);
    EXPECT_FALSE(fs::exists(dir + "/out/big_0003.exr"));
    EXPECT_FALSE(fs::exists(dir + "/out/big_0004.exr"));
}

// What a shell command prints (oiiotool: the files no one here wrote).
std::string shell(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

// The largest difference of any sample, on the 0..1 scale.
float maxDifference(const PixelWorld& a, const PixelWorld& b) {
    float most = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const Host::Rgba p = a.get(x, y), q = b.get(x, y);
            most = std::max({most, std::fabs(p.r - q.r), std::fabs(p.g - q.g), std::fabs(p.b - q.b),
                             std::fabs(p.a - q.a)});
        }
    }
    return most;
}

TEST_F(EndToEnd, FrontEndRendersDpxTiffAndJpegSequencesAtTheirOwnDepthWithTheirMetadata) {
    const std::string dir = scratch("formats");
    writeSampleClip(dir + "/clip", 96, 54, 2);
    struct Case {
        const char* ext;
        const char* type;   // as oiiotool names it
        int depth;          // of the render and of the file read back
        const char* bits;   // the output's bits per sample ("" where the format has one depth)
        float tolerance;    // of the file's scale and compression
    };
    for (const Case& c : {Case{"dpx", "uint10", 16, "10", 1.0f / 1023}, Case{"tif", "uint16", 16, "16", 0},
                          Case{"tif", "float", 32, "32", 0}, Case{"jpg", "uint8", 8, "", 0.2f}}) {
        const std::string name = std::string(c.type) + "." + c.ext;
        SCOPED_TRACE(name);
        fs::create_directories(dir + "/" + c.type);
        for (int n = 1; n <= 2; ++n) {
            const std::string frame = dir + "/" + c.type + "/clip_000" + std::to_string(n) + "." + c.ext;
            const std::string made = shell("oiiotool " + dir + "/clip/png16/clip_000" + std::to_string(n) +
                                           ".png --ch R,G,B -d " + c.type + " --attrib Copyright 'plate dept' -o " + frame);
            ASSERT_TRUE(fs::exists(frame)) << made;
        }
        const std::string in = dir + "/" + c.type + "/clip_%04d." + c.ext, out = dir + "/out_" + name;
        const CliRun run = render(with({"--in", in, "--out", dir + "/out_" + c.type + "/f_%04d." + c.ext}, kSet));
        ASSERT_EQ(run.status, kExitOk) << run.out << run.err;
        EXPECT_NE(run.out.find("at " + std::to_string(c.depth) + " bits"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("2 processed"), std::string::npos) << run.out;
        for (int n = 1; n <= 2; ++n) {
            const std::string written = dir + "/out_" + c.type + "/f_000" + std::to_string(n) + "." + c.ext;
            const ImageFile input = readImage(NumberPattern::parse(in)->format(n));
            const ImageFile output = readImage(written);
            EXPECT_EQ(output.file_bits, c.depth);
            EXPECT_LE(maxDifference(output.world, expectedOutput(input.world, kAdjust)), c.tolerance) << n;
            const std::string info = shell("oiiotool --info -v " + written);
            EXPECT_NE(info.find("Copyright: \"plate dept\""), std::string::npos) << info;
            if (*c.bits) {
                EXPECT_NE(info.find("oiio:BitsPerSample: " + std::string(c.bits)), std::string::npos) << info;
            }
            EXPECT_NE(info.find("3 channel"), std::string::npos) << info;  // RGB in, RGB out
        }
    }
}

TEST_F(EndToEnd, FrontEndFailsOnlyTheFrameOfATruncatedTiff) {
    const std::string dir = scratch("truncated");
    writeSampleClip(dir + "/clip", 96, 54, 3);
    fs::create_directories(dir + "/tif");
    for (int n = 1; n <= 3; ++n) {
        const std::string frame = dir + "/tif/clip_000" + std::to_string(n) + ".tif";
        shell("oiiotool " + dir + "/clip/png8/clip_000" + std::to_string(n) + ".png -o " + frame);
        ASSERT_TRUE(fs::exists(frame));
    }
    fs::resize_file(dir + "/tif/clip_0002.tif", fs::file_size(dir + "/tif/clip_0002.tif") / 2);
    const CliRun run = render(with({"--in", dir + "/tif/clip_%04d.tif", "--out", dir + "/out/f_%04d.tif"}, kSet));
    EXPECT_EQ(run.status, kExitFailed) << run.out << run.err;
    EXPECT_NE(run.out.find("2 processed"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 failed"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("clip_0002.tif"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(dir + "/out/f_0001.tif") && fs::exists(dir + "/out/f_0003.tif"));
    EXPECT_FALSE(fs::exists(dir + "/out/f_0002.tif"));
}

}  // namespace
}  // namespace TEV::E2e
