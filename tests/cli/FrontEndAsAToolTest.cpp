// tev-host as a program, run as a child process through the real plug-in and
// server: stops by signal, by a closed standard output and by a full disk
// keep finished frames and leave nothing partial; the plug-in's console text
// stays out of the report; numbering, depths, alpha and EXR layout survive a
// render of mixed files.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ImfChannelList.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "command/Commands.h"
#include "EndToEndFixture.h"
#include "FrontEndChild.h"
#include "files/ImageFiles.h"
#include "SampleClip.h"

namespace fs = std::filesystem;

namespace TEV::E2e {
namespace {

using namespace Host::Cli;

std::string scratch(const std::string& name) {
    const fs::path dir = fs::current_path() / "e2e_front_end_tool" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Every name in `folder`, hidden ones included, sorted.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Frames big enough that the server works on one for a while.
std::string bigFrames(const std::string& dir, int count) {
    fs::create_directories(dir + "/in");
    for (int n = 1; n <= count; ++n) {
        writeExrFile(dir + "/in/big_000" + std::to_string(n) + ".exr", sampleFrame(2400, 1350, n, count));
    }
    return dir + "/in/big_%04d.exr";
}

TEST_F(EndToEnd, FrontEndStoppedBySigtermOrSighupAbortsInFlightKeepsFinishedFramesAndSummarises) {
    for (const int signal_number : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal_number));
        const std::string dir = scratch(std::string("signal_") + sigabbrev_np(signal_number));
        const std::string in = bigFrames(dir, 4);
        // Frame 2 takes about half a second here; on a loaded machine the line of
        // frame 1 may reach us so late that frame 2 has ended too. Such a try shows
        // nothing and is made again with a shorter wait; any other outcome counts.
        for (const int wait_ms : {300, 100, 30}) {
            fs::remove_all(dir + "/out");
            FrontEndChild run(dir, {"render", pluginPath(), "--in", in, "--out", dir + "/out/big_%04d.exr", "--set",
                               "Brightness=1.1"});
            ASSERT_TRUE(run.waitForText("\nframe 1 ")) << run.out() << run.err();
            std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));  // frame 2 has begun
            run.signal(signal_number);
            EXPECT_EQ(run.wait(), 128 + signal_number) << run.out() << run.err();
            const std::string out = run.out();
            if (out.find("total: 2 of 4 frames written") != std::string::npos && wait_ms != 30) continue;
            EXPECT_NE(out.find("frame 2 "), std::string::npos) << "the frame in flight is reported\n" << out;
            EXPECT_NE(out.find("aborted (not written)"), std::string::npos) << out;
            EXPECT_NE(out.find("total: 1 of 4 frames written"), std::string::npos) << out;
            EXPECT_NE(out.find("not started"), std::string::npos) << out;
            EXPECT_NE(run.err().find(std::string("tev-host: stopped by SIG") + sigabbrev_np(signal_number) +
                                     ": 1 frame in flight was aborted"),
                      std::string::npos)
                << run.err();
            EXPECT_EQ(namesIn(dir + "/out"), std::vector<std::string>{"big_0001.exr"}) << "nothing partial or temporary";
            EXPECT_EQ(readImage(dir + "/out/big_0001.exr").world.width(), 2400);
            break;
        }
    }
}

TEST_F(EndToEnd, FrontEndWhoseOutputIsClosedStopsLikeASignalWithTheSummaryOnStderr) {
    const std::string dir = scratch("closed_pipe");
    const std::string in = bigFrames(dir, 3);
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);  // the child keeps only its descriptor 1 of it
    FrontEndChild run(dir, {"render", pluginPath(), "--in", in, "--out", dir + "/out/big_%04d.exr", "--set",
                       "Brightness=1.1"},
                 "", ends[1]);
    close(ends[1]);
    // Read as `| head -2` does, then go away.
    std::string seen;
    char c;
    while (std::count(seen.begin(), seen.end(), '\n') < 2 && read(ends[0], &c, 1) == 1) seen += c;
    close(ends[0]);
    EXPECT_EQ(seen.rfind("rendering 3 frames", 0), 0u) << seen;
    EXPECT_NE(seen.find("\nframe 1 "), std::string::npos) << seen;
    EXPECT_EQ(run.wait(), 128 + SIGPIPE) << "no crash by SIGPIPE\n" << run.err();
    const std::string err = run.err();
    EXPECT_NE(err.find("total: "), std::string::npos) << err;
    EXPECT_NE(err.find("tev-host: stopped: the frame lines' output was closed"), std::string::npos) << err;
    for (const std::string& name : namesIn(dir + "/out")) {
        EXPECT_NE(name[0], '.') << "a temporary file was left: " << name;
        EXPECT_EQ(readImage(dir + "/out/" + name).world.height(), 1350) << name;
    }
    EXPECT_FALSE(fs::exists(dir + "/out/big_0003.exr")) << "the run stopped before the last frame";
}

TEST_F(EndToEnd, FrontEndOnAFullDiskStopsAtTheFirstFailureAndNamesTheOutputsFromAnEarlierRun) {
    const std::string dir = scratch("full_disk");
    writeSampleClip(dir + "/clip", 640, 360, 6);
    const std::string out = dir + "/out";
    fs::create_directories(out);
    if (mount("tevtest", out.c_str(), "tmpfs", 0, "size=48k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << "); needs root";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{out};
    std::ofstream(out + "/o_0003.exr") << "an earlier run's frame";

    FrontEndChild run(dir, {"render", pluginPath(), "--in", dir + "/clip/exr/clip_%04d.exr", "--out", out + "/o_%04d.exr",
                       "--threads", "2", "--set", "Brightness=1.1"});
    EXPECT_EQ(run.wait(), 2) << run.out() << run.err();
    const std::string text = run.out();
    EXPECT_NE(text.find("No space left on device"), std::string::npos) << text;
    EXPECT_NE(text.find("not started"), std::string::npos) << "the run went on into the full disk\n" << text;
    EXPECT_NE(text.find("not rewritten, still from an earlier run: frame 3 " + out + "/o_0003.exr"), std::string::npos)
        << text;
    EXPECT_NE(run.err().find("(every further frame would fail the same way)"), std::string::npos) << run.err();
    EXPECT_EQ(namesIn(out), std::vector<std::string>{"o_0003.exr"}) << "no partial and no temporary file";
    EXPECT_EQ(TEV::Test::readFile(out + "/o_0003.exr"), "an earlier run's frame");
}

TEST_F(EndToEnd, FrontEndKeepsThePluginsConsoleOutOfItsWholeLineReport) {
    const std::string dir = scratch("streams");
    writeSampleClip(dir + "/clip", 160, 90, 4);
    // Overlay frames on two threads: the case where lines ran into each other.
    FrontEndChild run(dir, {"render", pluginPath(), "--in", dir + "/clip/png8/clip_%04d.png", "--out",
                       dir + "/out/o_%04d.png", "--threads", "2", "--set", "Type=Tensor(GPU)", "--report",
                       dir + "/report.jsonl"});
    EXPECT_EQ(run.wait(), kExitOverlay) << run.out() << run.err();
    int frame_lines = 0;
    for (const std::string& line : linesOf(run.out())) {
        const bool ours = line.rfind("rendering 4 frames", 0) == 0 || line.rfind("frame ", 0) == 0 ||
                          line.rfind("total: ", 0) == 0 || line.rfind("the plug-in logged ", 0) == 0;
        EXPECT_TRUE(ours) << "not a line of the front end's report: " << line;
        if (line.rfind("frame ", 0) == 0) ++frame_lines;
    }
    EXPECT_EQ(frame_lines, 4) << run.out();
    const std::string err = run.err();
    const std::vector<std::string> err_lines = linesOf(err);
    EXPECT_NE(std::find(err_lines.begin(), err_lines.end(), "plug-in: welcome!"), err_lines.end())
        << "a print on a line of its own\n" << err;
    for (const std::string& line : linesOf(err)) {
        EXPECT_TRUE(line.rfind("plug-in: ", 0) == 0 || line.rfind("tev-host: ", 0) == 0) << line;
    }
    std::vector<std::string> records = linesOf(TEV::Test::readFile(dir + "/report.jsonl"));
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records.back().rfind("{\"summary\":{\"frames\":4,\"processed\":0,\"unchanged\":0,\"overlay\":4,", 0), 0u)
        << records.back();
    EXPECT_NE(records.back().find("\"exit_status\":3}}"), std::string::npos) << records.back();
    records.pop_back();
    for (const std::string& r : records) {
        EXPECT_EQ(r.rfind("{\"frame\":", 0), 0u) << r;
        EXPECT_NE(r.find("\"verdict\":\"overlay\",\"message\":\"Error in Tevora Plugin / Tensor(GPU) is not available"),
                  std::string::npos)
            << r;
    }
}

TEST_F(EndToEnd, FrontEndRendersMixedFilesAtTheirOwnDepthsNumberedByNameWithAlphaAndExrLayout) {
    const std::string dir = scratch("mixed");
    writeSampleClip(dir + "/clip", 48, 32, 2);
    const std::string mixed = dir + "/mixed";
    fs::create_directories(mixed);
    // An 8-bit plate with a matte, a 16-bit PNG, a half EXR with a data window, and a hidden file.
    PixelWorld plate = readImage(dir + "/clip/png8/clip_0001.png").world;
    for (int y = 0; y < plate.height(); ++y) {
        for (int x = 0; x < plate.width(); ++x) plate.pixel8(x, y).alpha = static_cast<A_u_char>(x * 5);
    }
    writeImage(mixed + "/shot_0011.png", plate, 8);
    fs::copy_file(dir + "/clip/png16/clip_0002.png", mixed + "/shot_0012.png");
    ImageFile exr = readImage(dir + "/clip/exr/clip_0002.exr");
    auto layout = std::make_shared<ExrLayout>();
    layout->data_window = PF_LRect{5, 7, 5 + 47, 7 + 31};
    layout->display_window = PF_LRect{0, 0, 63, 47};
    layout->pixel_aspect = 2.0f;
    layout->half = true;
    writeImage(mixed + "/shot_0013.exr", exr.world, 16, layout.get());
    std::ofstream(mixed + "/.shot_0010.png") << "a hidden file, not an image";

    FrontEndChild run(dir, {"render", pluginPath(), "--in", mixed, "--out", dir + "/out/", "--alpha", "input", "--set",
                       "Brightness=1.25"});
    ASSERT_EQ(run.wait(), kExitOk) << run.out() << run.err();
    const std::string out = run.out();
    for (const char* line : {"frame 11  ", "frame 12  ", "frame 13  "}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << " in\n" << out;
    }
    EXPECT_NE(run.err().find("warning: frame 12 '" + mixed + "/shot_0012.png' (48 x 32, 16 bits) differs"),
              std::string::npos)
        << run.err();

    const ImageFile out8 = readImage(dir + "/out/shot_0011.png");
    EXPECT_EQ(out8.file_bits, 8);
    EXPECT_EQ(out8.world.pixel8(9, 3).alpha, 45) << "--alpha input keeps the plate's matte";
    const ImageFile out16 = readImage(dir + "/out/shot_0012.png");
    EXPECT_EQ(out16.file_bits, 16) << "a 16-bit file in a run that began at 8 bits stays 16-bit";
    const PixelWorld expected16 = expectedOutput(readImage(mixed + "/shot_0012.png").world, Adjustment{1.25f, 1, 1});
    EXPECT_EQ(firstDifference(out16.world, expected16), "");

    Imf::InputFile file((dir + "/out/shot_0013.exr").c_str());
    EXPECT_EQ(file.header().dataWindow(), Imath::Box2i(Imath::V2i(5, 7), Imath::V2i(52, 38)));
    EXPECT_EQ(file.header().displayWindow(), Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(63, 47)));
    EXPECT_EQ(file.header().pixelAspectRatio(), 2.0f);
    EXPECT_EQ(file.header().channels().findChannel("R")->type, Imf::HALF);
    // Not quantised to 1/255: the float render, stored as half.
    const PixelWorld in32 = readImage(mixed + "/shot_0013.exr").world;
    const PixelWorld expected32 = expectedOutput(in32, Adjustment{1.25f, 1, 1});
    const PixelWorld out32 = readImage(dir + "/out/shot_0013.exr").world;
    EXPECT_NEAR(out32.pixelFloat(17, 9).green, expected32.pixelFloat(17, 9).green, 2e-3);
    EXPECT_NEAR(out32.pixelFloat(40, 30).blue, expected32.pixelFloat(40, 30).blue, 2e-3);

    // A single file keeps the number in its name: clip_0002 -> o_0002.
    FrontEndChild single(dir, {"render", pluginPath(), "--in", dir + "/clip/png8/clip_0002.png", "--out",
                          dir + "/single/o_%04d.png"});
    EXPECT_EQ(single.wait(), kExitOk) << single.out() << single.err();
    EXPECT_EQ(namesIn(dir + "/single"), std::vector<std::string>{"o_0002.png"});
}

TEST_F(EndToEnd, FrontEndCommandLineAsANewUserTypesIt) {
    const std::string dir = scratch("command_line");
    const fs::path plugin(pluginPath());
    // A bare file name from the plug-in's folder, options before the command's words.
    FrontEndChild params(dir, {"--premiere", "params", plugin.filename().string()}, plugin.parent_path().string());
    EXPECT_EQ(params.wait(), kExitOk) << params.err();
    EXPECT_NE(params.out().find("\"Brightness\""), std::string::npos) << params.out();
    EXPECT_EQ(params.out().find("welcome!"), std::string::npos) << "the plug-in's text is not in the report";

    FrontEndChild help(dir, {"render", "--help"});
    EXPECT_EQ(help.wait(), kExitOk);
    EXPECT_NE(help.out().find("examples:"), std::string::npos) << help.out();

    FrontEndChild gif(dir, {"render", pluginPath(), "--in", dir + "/a.png", "--out", dir + "/x.gif"});
    EXPECT_EQ(gif.wait(), kExitUsage) << gif.err();
    EXPECT_NE(gif.err().find("(try tev-host --help)"), std::string::npos) << gif.err();

    writeSampleClip(dir + "/clip", 16, 9, 1);
    FrontEndChild many(dir, {"render", pluginPath(), "--in", dir + "/clip/png8/clip_0001.png", "--out", dir + "/o.png",
                        "--threads=64"});
    EXPECT_EQ(many.wait(), kExitOk) << many.err();
    if (64 > 4 * std::thread::hardware_concurrency()) {
        EXPECT_NE(many.err().find("tev-host: warning: --threads 64 is more than 4 times the"), std::string::npos)
            << many.err();
    }
    FrontEndChild too_many(dir, {"render", pluginPath(), "--in", dir + "/clip/png8/clip_0001.png", "--out",
                            dir + "/o.png", "--threads=1000"});
    EXPECT_EQ(too_many.wait(), kExitUsage);
    EXPECT_NE(too_many.err().find("--threads must be 1 to 64, not 1000"), std::string::npos) << too_many.err();
}

TEST_F(EndToEnd, FrontEndLoadsABarePluginNameFromTheInstalledOnesNeverFromTheCurrentFolder) {
    const std::string dir = scratch("planted_plugin");
    const std::string name = fs::path(pluginPath()).filename().string();
    // Planted in a shared submission folder: not a plug-in at all, so loading it fails.
    std::ofstream(dir + "/" + name) << "planted by whoever may write the submission folder";
    FrontEndChild bare(dir, {"params", name}, dir);
    EXPECT_EQ(bare.wait(), kExitOk) << bare.err();
    EXPECT_NE(bare.out().find("\"Brightness\""), std::string::npos) << bare.out();

    FrontEndChild here(dir, {"params", "./" + name}, dir);
    EXPECT_EQ(here.wait(), kExitFailed);
    EXPECT_NE(here.err().find("./" + name), std::string::npos) << here.err();

    FrontEndChild missing(dir, {"params", "NoSuchPlugin.so"}, dir);
    EXPECT_EQ(missing.wait(), kExitFailed);
    EXPECT_NE(missing.err().find("is not among the installed plug-ins (looked for "), std::string::npos)
        << missing.err();
}

}  // namespace
}  // namespace TEV::E2e
