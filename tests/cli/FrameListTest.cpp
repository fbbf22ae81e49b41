// The front end's command line and the expansion of inputs into frames.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <map>

#include "ParseWords.h"
#include "command/CliOptions.h"
#include "frames/FrameList.h"
#include "JsonText.h"
#include "report/ExitCodes.h"
#include "report/FrameRecord.h"
#include "tevhost/HostError.h"

namespace fs = std::filesystem;

namespace TEV::Host::Cli {
namespace {

TEST(FrontEndCommandLine, TakesEveryRenderOptionAndRefusesBadValues) {
    const CliOptions o = parse({"render", "fx.so", "--in", "in_%04d.exr", "--out", "out/", "--depth", "16",
                                "--png-bits", "8", "--downsample", "3", "--threads", "4", "--frames", "10-20",
                                "--reconnect", "--log", "fx.log", "--no-progress", "--set", "Type=Tensor(CPU)"});
    EXPECT_EQ(o.depth, 16);
    EXPECT_EQ(o.png_bits, 8);
    EXPECT_EQ(o.downsample, 3);
    EXPECT_EQ(o.threads, 4u);
    EXPECT_EQ(o.first_frame, 10);
    EXPECT_EQ(o.last_frame, 20);
    EXPECT_TRUE(o.reconnect);
    EXPECT_TRUE(o.no_progress);
    EXPECT_FALSE(o.progress_bar);  // only main turns the bar on, for a terminal
    EXPECT_EQ(o.log_file, "fx.log");
    EXPECT_EQ(parse({"render", "fx.so", "--in", "a.png", "--out", "b.png"}).depth, 0);  // from the input
    EXPECT_EQ(parse({"render", "fx.so", "--frames", "7", "--in", "a", "--out", "b.png"}).last_frame, 7);
    EXPECT_EQ(parse({"render", "fx.so", "--help"}).action, Action::Help);
    EXPECT_EQ(parse({"render", "fx.so", "--in", "d/", "--out", "o/", "--number-by-name"}).numbering,
              Numbering::ByNameOrder);
    EXPECT_EQ(parse({"render", "fx.so", "--in", "d/", "--out", "o/", "--threads", "64"}).threads, 64u);

    const std::vector<std::vector<std::string>> bad = {
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--threads", "0"},
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--threads", "65"},
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--downsample", "0"},
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--downsample", "two"},
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--png-bits", "32"},
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--frames", "9-3"},
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--frames", "-3"},
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--colour"},
        {"render", "fx.so", "--in", "a.png", "--out"},
        {"params", "fx.so", "--threads", "2"},
    };
    for (const auto& words : bad) {
        EXPECT_THROW(parse(words), std::invalid_argument) << words[words.size() - 2] << " " << words.back();
    }
}

TEST(FrontEndCommandLine, FollowsGnuConventionsAndTellsMistakesApart) {
    // --opt=value, options before the plug-in, after it, and after --.
    CliOptions o = parse({"--threads=2", "render", "--in=a.png", "fx.so", "--out", "o_%04d.exr", "--frames=10-",
                          "--alpha=input", "--skip-existing", "--layer", "beauty", "--report", "-", "--exr-float"});
    EXPECT_EQ(o.action, Action::Render);
    EXPECT_EQ(o.plugin, "fx.so");
    EXPECT_EQ(o.threads, 2u);
    EXPECT_EQ(o.input, "a.png");
    EXPECT_EQ(o.first_frame, 10);
    EXPECT_EQ(o.last_frame, INT_MAX);
    EXPECT_EQ(o.alpha, AlphaSource::Input);
    EXPECT_TRUE(o.skip_existing);
    EXPECT_EQ(o.layer, "beauty");
    EXPECT_EQ(o.report_file, "-");
    EXPECT_TRUE(o.exr_float);
    EXPECT_EQ(parse({"render", "--in", "a.png", "--out", "b.png", "--", "-fx.so"}).plugin, "-fx.so");
    o = parse({"render", "fx.so", "--in", "a.png", "--out", "b.png", "--frames", "1-100x2"});
    EXPECT_EQ(o.first_frame, 1);
    EXPECT_EQ(o.last_frame, 100);
    EXPECT_EQ(o.frame_step, 2);
    EXPECT_EQ(parse({"render", "fx.so", "--in", "a.png", "--out", "b.png"}).alpha, AlphaSource::Effect);
    // Help and version win wherever they stand, even on an incomplete line.
    EXPECT_EQ(parse({"render", "--help"}).action, Action::Help);
    EXPECT_EQ(parse({"params", "-h"}).action, Action::Help);
    EXPECT_EQ(parse({"--version"}).action, Action::Version);
    EXPECT_EQ(versionText().rfind("tev-host ", 0), 0u);
    EXPECT_NE(usage().find("examples:"), std::string::npos);

    const std::vector<std::vector<std::string>> bad = {
        {"render", "fx.so", "--in", "a.png", "--out", "x.gif"},         // a file the front end cannot write
        {"render", "fx.so", "--in", "a.png", "--out", "renders"},       // neither an image nor a folder
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--frames", "1-100x0"},
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--alpha", "premultiplied"},
        {"render", "fx.so", "--in", "a.png", "--out", "b.png", "--no-progress=yes"},
        {"render", "fx.so", "extra", "--in", "a.png", "--out", "b.png"},
        {"render", "--in", "a.png", "--out", "b.png"},
        {"--threads", "2"},
    };
    for (const auto& words : bad) {
        EXPECT_THROW(parse(words), std::invalid_argument) << words.back();
    }
}

TEST(FrontEndCommandLine, EveryOptionIsParsedAndDocumentedFromItsOneTableEntry) {
    const std::string help = usage();
    const std::map<std::string, std::string> values = {{"--set", "A=1"},        {"--frames", "1-2"},
                                                       {"--chunk", "1/2"},      {"--alpha", "input"},
                                                       {"--out", "c.png"},      {"--exr-compression", "zip"}};
    for (const OptionSpec& option : optionTable()) {
        EXPECT_NE(help.find(option.name), std::string::npos) << option.name << " is not in --help";
        std::vector<std::string> words = {"render", "fx.so", "--in", "a.png", "--out", "b.png", option.name};
        if (option.value_name) words.push_back(values.count(option.name) ? values.at(option.name) : "8");
        EXPECT_NO_THROW(parse(words)) << option.name;
    }
    // Help from column 22, or two spaces after a longer name; its further lines at that column.
    const OptionTable table = {
        {"--ab", nullptr, "N", kRenderCommand, false, "one\ntwo", nullptr},
        {"--a-very-long-name", nullptr, "NAME", kRenderCommand, false, "x", nullptr},
        {"--merge-only", nullptr, nullptr, kMergeCommand, false, "m", nullptr},
        {"--unlisted", nullptr, nullptr, kRenderCommand, false, "", nullptr},
    };
    EXPECT_EQ(optionHelp(table, kRenderCommand), "  --ab N              one\n"
                                                 "                      two\n"
                                                 "  --a-very-long-name NAME  x\n");
}

TEST(FrontEndCommandLine, ABarePluginNameIsAnInstalledOneNeverOneInTheCurrentFolder) {
    std::ofstream("planted_plugin.so") << "x";  // as anyone who may write a shared submission folder
    try {
        const std::string loaded = pluginLoadPath("planted_plugin.so");
        ADD_FAILURE() << "a bare name was taken as " << loaded;
    } catch (const HostError& e) {
        EXPECT_EQ(std::string(e.what()), "plug-in 'planted_plugin.so' is not among the installed plug-ins (looked for " +
                                             installedPluginFolder() + "/planted_plugin.so only); name a plug-in "
                                             "elsewhere by its path, one in the current folder as ./planted_plugin.so");
    }
    EXPECT_EQ(pluginLoadPath("./planted_plugin.so"), "./planted_plugin.so");
    EXPECT_EQ(pluginLoadPath("/abs/fx.so"), "/abs/fx.so");
    fs::remove("planted_plugin.so");
}

TEST(FrameRecord, IsOneLineOfJsonWithItsStringsEscaped) {
    EXPECT_EQ(toJsonLine(FrameRecord{7, "in/a \"b\".png", "out\\c.png", 0.25, "overlay", "line 1\nline\t2"}),
              "{\"frame\":7,\"input\":\"in/a \\\"b\\\".png\",\"output\":\"out\\\\c.png\",\"seconds\":0.25,"
              "\"verdict\":\"overlay\",\"message\":\"line 1\\nline\\t2\"}");
    EXPECT_EQ(JsonText::quote(std::string("\x01")), "\"\\u0001\"");
    // Bytes that are not UTF-8 become \u00XX; valid UTF-8 passes as it is.
    EXPECT_EQ(JsonText::quote("a\xe9" "b_\xc3\xa9_\xe2\x82_\xf0\x9f\x8e\xac_\xc0\xaf_\xed\xa0\x80"),
              "\"a\\u00e9b_\xc3\xa9_\\u00e2\\u0082_\xf0\x9f\x8e\xac_\\u00c0\\u00af_\\u00ed\\u00a0\\u0080\"");
    StateCounts counts;
    for (FrameState s : {FrameState::Processed, FrameState::Overlay, FrameState::Overlay, FrameState::Aborted,
                         FrameState::Skipped, FrameState::NotStarted}) {
        counts.add(s);
    }
    EXPECT_EQ(summaryJsonLine(counts, 2.5, 130),
              "{\"summary\":{\"frames\":6,\"processed\":1,\"unchanged\":0,\"overlay\":2,\"failed\":0,"
              "\"aborted\":1,\"skipped\":1,\"not_started\":1,\"missing\":0,\"seconds\":2.5,\"exit_status\":130}}");
    EXPECT_EQ(counts.exitStatus(), kExitFailed);
}

TEST(NumberPattern, FormatsAndMatchesOnlyItsExactSpelling) {
    const NumberPattern p = *NumberPattern::parse("shots/100%%_f%04d.png");
    EXPECT_EQ(p.format(7), "shots/100%_f0007.png");
    EXPECT_EQ(p.folder(), "shots/");
    EXPECT_EQ(p.match("100%_f0007.png"), 7);
    EXPECT_EQ(p.match("100%_f12345.png"), 12345);
    EXPECT_FALSE(p.match("100%_f7.png"));
    EXPECT_FALSE(p.match("100%_f00x7.png"));
    EXPECT_FALSE(p.match("100%_f0007.png.bak"));
    EXPECT_EQ(NumberPattern::parse("f%d.exr")->match("f12.exr"), 12);
    EXPECT_FALSE(NumberPattern::parse("f%d.exr")->match("f012.exr"));
    EXPECT_FALSE(NumberPattern::parse("plain.png"));
    EXPECT_FALSE(NumberPattern::parse("50%%.png"));
    EXPECT_THROW(NumberPattern::parse("f%04d_%d.png"), std::invalid_argument);
    EXPECT_THROW(NumberPattern::parse("f%s.png"), std::invalid_argument);
}

class FrameListing : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir_);
        fs::create_directories(dir_ + "/in");
        for (const char* name : {"f_0003.png", "f_0001.png", "f_0010.exr", "f_0002.png", "f_2.png", "notes.txt"}) {
            std::ofstream(dir_ + "/in/" + name) << "x";
        }
    }
    // One folder per test: ctest runs this fixture's tests at the same time.
    const std::string dir_ =
        std::string("frame_list_test_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(FrameListing, PatternsAndDirectoriesExpandInOrderWithTheirNumbers) {
    std::vector<FrameJob> frames = listFrames(dir_ + "/in/f_%04d.png", dir_ + "/out/g_%03d.exr", -1, -1, 0);
    ASSERT_EQ(frames.size(), 3u);  // f_2.png is not spelled %04d, f_0010.exr is no .png
    EXPECT_EQ(frames[0].number, 1);
    EXPECT_EQ(frames[2].input, dir_ + "/in/f_0003.png");
    EXPECT_EQ(frames[2].output, dir_ + "/out/g_003.exr");
    EXPECT_TRUE(fs::is_directory(dir_ + "/out")) << "output folders are created";

    frames = listFrames(dir_ + "/in/f_%04d.png", dir_ + "/out/g_%03d.exr", 2, 3, 0);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].number, 2);

    // f_0002.png and f_2.png share a number: refused with both names, or numbered by name order on request.
    try {
        listFrames(dir_ + "/in", dir_ + "/copy/", -1, -1, 0);
        ADD_FAILURE() << "two files with frame number 2 were taken";
    } catch (const HostError& e) {
        EXPECT_EQ(std::string(e.what()), "'" + dir_ + "/in/f_0002.png' and '" + dir_ +
                                             "/in/f_2.png' both have frame number 2 (--number-by-name numbers the "
                                             "files by name order from 0)");
    }
    frames = listFrames(dir_ + "/in", dir_ + "/copy/", FrameRange{}, 0, Numbering::ByNameOrder);  // images only
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].input, dir_ + "/in/f_0001.png");
    EXPECT_EQ(frames[0].output, dir_ + "/copy/f_0001.png");
    EXPECT_EQ(frames[4].number, 4);
    EXPECT_EQ(frames[4].input, dir_ + "/in/f_2.png");

    frames = listFrames(dir_ + "/in/f_0002.png", dir_ + "/single.png", -1, -1, 42);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].number, 42);
}

TEST_F(FrameListing, OneNumberingRuleForEveryKindOfInputAndNoHiddenFiles) {
    // A single file is numbered by its name, as a pattern's files are.
    std::vector<FrameJob> frames = listFrames(dir_ + "/in/f_0003.png", dir_ + "/o_%04d.png", -1, -1, -1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].number, 3);
    EXPECT_EQ(frames[0].output, dir_ + "/o_0003.png");
    EXPECT_EQ(listFrames(dir_ + "/in/f_0003.png", dir_ + "/o.png", -1, -1, -1)[0].number, 3);

    fs::create_directories(dir_ + "/seq");
    for (const char* name : {"shot_1002.png", "shot_1001.exr", ".shot_1000.png", "._shot_1003.png", "shot_1010.png"}) {
        std::ofstream(dir_ + "/seq/" + name) << "x";
    }
    frames = listFrames(dir_ + "/seq", dir_ + "/seq_out/", -1, -1, -1);  // by the numbers in the names
    ASSERT_EQ(frames.size(), 3u) << "hidden files are left out";
    EXPECT_EQ(frames[0].number, 1001);
    EXPECT_EQ(frames[0].input, dir_ + "/seq/shot_1001.exr");
    EXPECT_EQ(frames[2].number, 1010);
    frames = listFrames(dir_ + "/seq/shot_%04d.png", dir_ + "/o_%04d.png", -1, -1, -1);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].number, 1002);

    // Open ranges and steps.
    frames = listFrames(dir_ + "/seq", dir_ + "/seq_out/", FrameRange{1002, INT_MAX, 1}, -1);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].number, 1002);
    frames = listFrames(dir_ + "/seq", dir_ + "/seq_out/", FrameRange{1001, 1100, 3}, -1);
    ASSERT_EQ(frames.size(), 2u);  // 1001, 1004, 1007, 1010: 1002 is left out
    EXPECT_EQ(frames[0].number, 1001);
    EXPECT_EQ(frames[1].number, 1010);

    // A file without a number among numbered ones is refused; a folder of unnumbered files goes by name.
    std::ofstream(dir_ + "/seq/shot_final.png") << "x";
    EXPECT_THROW(listFrames(dir_ + "/seq", dir_ + "/seq_out/", -1, -1, -1), HostError);
    fs::create_directories(dir_ + "/names");
    for (const char* name : {"b.png", "a.png"}) std::ofstream(dir_ + "/names/" + name) << "x";
    frames = listFrames(dir_ + "/names", dir_ + "/names_out/", -1, -1, -1);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].input, dir_ + "/names/b.png");
    EXPECT_EQ(frames[1].number, 1);

    EXPECT_EQ(numberInFileName("a2_b10.exr"), 10);
    EXPECT_EQ(numberInFileName("take3_final.png"), 3);
    EXPECT_EQ(numberInFileName("plate.png"), std::nullopt);
}

TEST(MissingFrames, AreNamedWithinTheAskedRangeOnly) {
    const auto jobs = [](std::vector<int> numbers) {
        std::vector<FrameJob> frames;
        for (int n : numbers) frames.push_back(FrameJob{n, "", ""});
        return frames;
    };
    EXPECT_EQ(describeMissingFrames(jobs({7, 8, 10, 11, 12}), FrameRange{7, 12, 1}),
              "--frames 7-12: no file for 1 frame: 9");
    EXPECT_EQ(describeMissingFrames(jobs({8, 9}), FrameRange{7, 12, 1}), "--frames 7-12: no file for 4 frames: 7, 10-12");
    EXPECT_EQ(describeMissingFrames(jobs({1, 5}), FrameRange{1, INT_MAX, 2}), "--frames 1-x2: no file for 1 frame: 3");
    EXPECT_EQ(describeMissingFrames(jobs({1, 2, 3}), FrameRange{1, INT_MAX, 1}), "");
    EXPECT_EQ(describeMissingFrames(jobs({1, 3}), FrameRange{}), "") << "no range asked, nothing missing";
}

TEST_F(FrameListing, RefusesWhatCannotWorkBeforeAnythingRenders) {
    const std::vector<std::pair<std::string, std::string>> bad = {
        {dir_ + "/in/f_%04d.png", dir_ + "/one.png"},       // several frames into one file
        {dir_ + "/in/f_%04d.png", dir_ + "/in/f_%04d.png"}, // overwrite the inputs
        {dir_ + "/in/g_%04d.png", dir_ + "/o_%04d.png"},    // nothing matches
        {dir_ + "/absent/f_%04d.png", dir_ + "/o_%04d.png"},
        {dir_ + "/in/notes.txt", dir_ + "/o.png"},           // not an image
        {dir_ + "/in/f_0001.png", dir_ + "/o.gif"},
    };
    for (const auto& [in, out] : bad) {
        EXPECT_THROW(listFrames(in, out, -1, -1, 0), HostError) << in << " -> " << out;
    }
    EXPECT_THROW(listFrames(dir_ + "/in/f_%04d.png", dir_ + "/o_%04d.png", 20, 30, 0), HostError);
}

}  // namespace
}  // namespace TEV::Host::Cli
