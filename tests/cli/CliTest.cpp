// tev-host's command line and its two commands, run in-process with a test
// effect: resuming with --skip-existing, a closed output, the console capture.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>

#include "command/Commands.h"
#include "run/ConsoleCapture.h"
#include "run/FdStream.h"
#include "files/ImageFiles.h"
#include "ParseWords.h"

namespace TEV::Host::Cli {
namespace {

PixelWorld readPng(const std::string& path) { return readImage(path).world; }
void writePng(const std::string& path, const PixelWorld& world) { writePngFile(path, world, 8); }

TEST(TevHostCommandLine, ParsesRenderOptionsAndRejectsBadOnes) {
    CliOptions o = parse({"render", "fx.so", "--in", "a.png", "--out", "b.png", "--depth", "32", "--set",
                          "Mode=Fail render", "--set", "Gain=2", "--books"});
    EXPECT_EQ(o.action, Action::Render);
    EXPECT_EQ(o.plugin, "fx.so");
    EXPECT_EQ(o.depth, 32);
    ASSERT_EQ(o.set.size(), 2u);
    EXPECT_EQ(o.set[0], std::make_pair(std::string("Mode"), std::string("Fail render")));
    EXPECT_TRUE(o.books);
    EXPECT_EQ(parse({}).action, Action::Help);

    EXPECT_THROW(parse({"render", "fx.so", "--in", "a.png"}), std::invalid_argument);
    EXPECT_THROW(parse({"render", "fx.so", "--in", "a.png", "--out", "b.png", "--depth", "12"}), std::invalid_argument);
    EXPECT_THROW(parse({"render", "fx.so", "--set", "=3"}), std::invalid_argument);
    EXPECT_THROW(parse({"params"}), std::invalid_argument);
    EXPECT_THROW(parse({"params", "fx.so", "--in", "a.png"}), std::invalid_argument);
    EXPECT_THROW(parse({"paint", "fx.so"}), std::invalid_argument);
}

TEST(TevHostCommands, ListsParametersAndRendersAPngThroughThePlugin) {
    std::ostringstream out, err;
    CliOptions list = parse({"params", TEST_EFFECT_PATH});
    ASSERT_EQ(listParams(list, out, err), kExitOk) << err.str();
    EXPECT_NE(out.str().find("\"Mode\"                      popup, id 14, default 1, choices 1 \"Copy\""),
              std::string::npos)
        << out.str();

    PixelWorld picture(6, 4, 8);
    picture.fill(Rgba{0.4f, 0.2f, 1.0f, 1.0f});
    writePng("cli_test_in.png", picture);
    CliOptions render = parse({"render", TEST_EFFECT_PATH, "--in", "cli_test_in.png", "--out", "cli_test_out.png",
                               "--depth", "16", "--set", "Gain=0.5", "--set", "Invert=off", "--books"});
    out.str("");
    ASSERT_EQ(renderImage(render, out, err), kExitOk) << err.str();
    EXPECT_NE(out.str().find("books: balanced"), std::string::npos) << out.str();
    PixelWorld result = readPng("cli_test_out.png");
    EXPECT_EQ(result.width(), 6);
    EXPECT_NEAR(result.get(5, 3).r, 0.2f, 0.01f);
    EXPECT_NEAR(result.get(5, 3).b, 0.5f, 0.01f);

    CliOptions failing = parse({"render", TEST_EFFECT_PATH, "--in", "cli_test_in.png", "--out", "cli_test_x.png",
                                "--set", "Mode=Fail render"});
    err.str("");
    EXPECT_EQ(renderImage(failing, out, err), kExitFailed);
    EXPECT_EQ(err.str(), "tev-host: PF_Cmd_SMART_RENDER (24) failed with error 4 (PF_Err_OUT_OF_MEMORY)\n");

    CliOptions bad_value = parse({"render", TEST_EFFECT_PATH, "--in", "cli_test_in.png", "--out", "cli_test_x.png",
                                  "--set", "Gain=loud"});
    err.str("");
    EXPECT_EQ(renderImage(bad_value, out, err), kExitFailed);
    EXPECT_EQ(err.str(), "tev-host: parameter \"Gain\" needs a number, not 'loud'\n");
}

}  // namespace
}  // namespace TEV::Host::Cli

namespace TEV::Host::Cli {
namespace {

std::vector<std::string> renderWords(const std::string& in, const std::string& out, std::vector<std::string> more) {
    std::vector<std::string> words = {"render", TEST_EFFECT_PATH, "--in", in, "--out", out, "--log", "cli_test.log"};
    words.insert(words.end(), more.begin(), more.end());
    return words;
}

void writeFrames(const std::string& folder, int count) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (int n = 1; n <= count; ++n) {
        PixelWorld picture(6, 4, 8);
        picture.fill(Rgba{0.1f * n, 0.2f, 1.0f, 1.0f});
        writePng(folder + "/f_000" + std::to_string(n) + ".png", picture);
    }
}

TEST(TevHostCommands, SkipExistingResumesAStoppedRunAndAClosedOutputStopsIt) {
    writeFrames("cli_test_seq", 4);
    std::filesystem::remove_all("cli_test_seq_out");
    std::ostringstream out, err;
    ASSERT_EQ(renderImage(parse(renderWords("cli_test_seq/f_%04d.png", "cli_test_seq_out/g_%04d.png", {})), out, err),
              kExitOk)
        << err.str();
    std::filesystem::remove("cli_test_seq_out/g_0003.png");
    std::ofstream("cli_test_seq_out/g_0002.png") << "kept as it is";
    std::ofstream("cli_test_seq_out/.g_0003.png.tev-Ab12Cd") << "left by a killed run";

    out.str("");
    ASSERT_EQ(renderImage(parse(renderWords("cli_test_seq/f_%04d.png", "cli_test_seq_out/g_%04d.png",
                                            {"--skip-existing"})),
                          out, err),
              kExitOk)
        << err.str();
    EXPECT_NE(out.str().find("frame 2  cli_test_seq/f_0002.png -> cli_test_seq_out/g_0002.png  0.00 s  skipped "
                             "(output exists)"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("1 of 4 frames written"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(", 3 skipped"), std::string::npos) << out.str();
    EXPECT_EQ(readPng("cli_test_seq_out/g_0003.png").width(), 6);
    EXPECT_NE(err.str().find("removed 1 temporary file left by an interrupted run: cli_test_seq_out/.g_0003.png.tev-Ab12Cd"),
              std::string::npos)
        << err.str();
    EXPECT_FALSE(std::filesystem::exists("cli_test_seq_out/.g_0003.png.tev-Ab12Cd"));
    std::ifstream kept("cli_test_seq_out/g_0002.png");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), std::istreambuf_iterator<char>()), "kept as it is");

    // The frame lines' stream fails at once (a closed pipe): the run stops
    // after the first frame, with its summary on the error stream.
    std::filesystem::remove_all("cli_test_seq_out");
    std::ostringstream closed;
    closed.setstate(std::ios::badbit);
    err.str("");
    EXPECT_EQ(renderImage(parse(renderWords("cli_test_seq/f_%04d.png", "cli_test_seq_out/g_%04d.png", {})), closed,
                          err),
              128 + SIGPIPE);
    EXPECT_NE(err.str().find("total: 1 of 4 frames written"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("3 not started"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("tev-host: stopped: the frame lines' output was closed"), std::string::npos) << err.str();
}

TEST(ConsoleCapture, HandsOverEachPrintAsItIsPrintedOnALineOfItsOwn) {
    std::vector<std::string> lines;
    std::mutex mutex;
    const auto seen = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.size();
    };
    {
        ConsoleCapture capture([&](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
        });
        std::cout << "welcome!";  // as the plug-in prints: no line feed, no flush
        for (int i = 0; i < 500 && seen() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(seen(), 1u) << "a print without a line feed arrives when it is printed";
        std::cout << "ExamplePlugin\nframe 0 of the plug-in\r\n";
        std::cout << "Log failed: " << "no such folder" << "\n";
        std::printf("At line 185");  // the last text, without a line feed
        ASSERT_GE(capture.originalStdout(), 3);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"welcome!", "ExamplePlugin", "frame 0 of the plug-in", "Log failed: ",
                                               "no such folder", "At line 185"}));
}

// A stream buffer that takes `lines` lines, then fails every write.
class FailingAfter : public std::streambuf {
public:
    explicit FailingAfter(int lines) : lines_(lines) {}
    std::string text;

protected:
    int_type overflow(int_type c) override {
        if (lines_ <= 0) return traits_type::eof();
        if (traits_type::to_char_type(c) == '\n') --lines_;
        text += traits_type::to_char_type(c);
        return c;
    }

private:
    int lines_;
};

TEST(TevHostWrites, AFullDiskIsNamedAFailingStderrDoesNotStopTheRunAndAThreadsFailureEndsWithTheSummary) {
    writeFrames("cli_test_writes", 4);
    const auto words = [](std::vector<std::string> more) {
        return parse(renderWords("cli_test_writes/f_%04d.png", "cli_test_writes_out/g_%04d.png", std::move(more)));
    };
    std::ostringstream out, err;
    // --report on a full disk: a failure, named.
    EXPECT_EQ(renderImage(words({"--report", "/dev/full"}), out, err), kExitFailed) << err.str();
    EXPECT_NE(err.str().find("tev-host: stopped: cannot write the report to '/dev/full': No space left on device"),
              std::string::npos)
        << err.str();
    // Frame lines into a full disk: no closed output (141), a failure (2), named.
    FdStream full(open("/dev/full", O_WRONLY | O_CLOEXEC), "standard output (/dev/full)", true);
    err.str("");
    EXPECT_EQ(renderImage(words({}), full, err), kExitFailed) << err.str();
    EXPECT_NE(err.str().find("cannot write the frame lines to standard output (/dev/full): No space left on device"),
              std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("total: 1 of 4 frames written"), std::string::npos) << "the summary on stderr\n"
                                                                                 << err.str();
    // The --dry-run listing and an empty part's lines, into a full disk.
    for (const std::vector<std::string>& more : {std::vector<std::string>{"--dry-run"}, {"--chunk", "5/5"}}) {
        FdStream full_lines(open("/dev/full", O_WRONLY | O_CLOEXEC), "standard output (/dev/full)", true);
        err.str("");
        EXPECT_EQ(renderImage(words(more), full_lines, err), kExitFailed) << more[0];
        EXPECT_NE(err.str().find("cannot write the frame lines to standard output (/dev/full): No space left"),
                  std::string::npos)
            << err.str();
    }
    std::ostringstream failing_stderr;
    failing_stderr.setstate(std::ios::badbit);
    out.str("");
    EXPECT_EQ(renderImage(words({"--report", "-"}), out, failing_stderr), kExitOk);
    const std::string records = out.str();
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 5) << "4 records and the summary\n" << records;
    // tev-host params > /dev/full
    FdStream full_params(open("/dev/full", O_WRONLY | O_CLOEXEC), "standard output (/dev/full)", true);
    err.str("");
    EXPECT_EQ(listParams(parse({"params", TEST_EFFECT_PATH}), full_params, err), kExitFailed);
    EXPECT_EQ(err.str(), "tev-host: cannot write the parameters to standard output (/dev/full): No space left on "
                         "device\n");
    // A frame line that throws on a render thread ends the run with its summary.
    FailingAfter buffer(1);
    std::ostream throwing(&buffer);
    throwing.exceptions(std::ios::badbit);
    err.str("");
    EXPECT_EQ(renderImage(words({"--threads", "2"}), throwing, err), kExitFailed);
    EXPECT_NE(err.str().find("tev-host: stopped: render thread 0 failed: "), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("total: "), std::string::npos) << err.str();
}

// A stream that raises SIGINT on its first flush: the run is stopped before
// any frame starts.
class InterruptingBuf : public std::stringbuf {
protected:
    int sync() override {
        if (!raised_) raise(SIGINT);
        raised_ = true;
        return 0;
    }

private:
    bool raised_ = false;
};

TEST(TevHostReport, HasARecordForEveryFrameAskedForAndASummaryRecordWhenARunIsStopped) {
    writeFrames("cli_test_report", 4);
    InterruptingBuf buffer;
    std::ostream out(&buffer);
    std::ostringstream err;
    const std::string report = "cli_test_report/report.jsonl";
    EXPECT_EQ(renderImage(parse(renderWords("cli_test_report/f_%04d.png", "cli_test_report_out/g_%04d.png",
                                            {"--report", report})),
                          out, err),
              128 + SIGINT);
    EXPECT_EQ(err.str(), "tev-host: stopped by SIGINT\n") << "no frame was in flight";
    std::ifstream in(report);
    std::vector<std::string> records;
    for (std::string line; std::getline(in, line);) records.push_back(line);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[3].rfind("{\"frame\":4,\"input\":\"cli_test_report/f_0004.png\",\"output\":"
                               "\"cli_test_report_out/g_0004.png\",\"seconds\":0.0,\"verdict\":\"not started\","
                               "\"message\":\"\",\"made_us\":",
                               0),
              0u)
        << records[3];
    EXPECT_EQ(records[4].rfind("{\"summary\":{\"frames\":4,\"processed\":0,\"unchanged\":0,\"overlay\":0,"
                               "\"failed\":0,\"aborted\":0,\"skipped\":0,\"not_started\":4,\"missing\":0,"
                               "\"seconds\":",
                               0),
              0u)
        << records[4];
    EXPECT_NE(records[4].find(",\"exit_status\":130}}"), std::string::npos) << records[4];
}

}  // namespace
}  // namespace TEV::Host::Cli
