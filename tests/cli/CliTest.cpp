// tev-host's command line and its two commands, run in-process.
#include <gtest/gtest.h>

#include <sstream>

#include "Commands.h"
#include "ImageFiles.h"

namespace TEV::Host::Cli {
namespace {

CliOptions parse(std::vector<std::string> words) {
    std::vector<char*> argv{const_cast<char*>("tev-host")};
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

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
