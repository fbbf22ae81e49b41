// The checker's parts that judge on their own: overlay fit of error texts,
// reading poll replies, escaping server texts, the list of checks and the
// command line.
#include <gtest/gtest.h>

#include <set>

#include "Check.h"
#include "JsonText.h"
#include "OverlayFit.h"
#include "Options.h"
#include "Replies.h"
#include "Report.h"
#include "Text.h"

namespace TEV {
namespace Test {
namespace {

using namespace Conform;

Dict map(std::initializer_list<std::pair<const std::string, Dict>> entries) {
    return Dict(std::map<std::string, Dict>(entries));
}

// ---- error texts in the overlay ------------------------------------------------

TEST(OverlayFit, ShortOneLineTextsFitAndLongOnesAreCutOff) {
    const OverlayFit fits = fitOverlayLine("image 'bit_depth' is 12; only 8, 16 and 32 are served");
    EXPECT_TRUE(fits.fits) << fits.why;
    // The overlay's monospaced font holds about 94 characters on an HD frame.
    EXPECT_TRUE(fitOverlayLine(std::string(85, 'x')).fits);
    const OverlayFit cut = fitOverlayLine(std::string(105, 'x'));
    EXPECT_FALSE(cut.fits);
    EXPECT_NE(cut.why.find("cut off"), std::string::npos) << cut.why;
    // Blanks take their room too: the end is where the overlay draws the last glyph.
    EXPECT_FALSE(fitOverlayLine(std::string(60, ' ') + std::string(60, 'x')).fits);
}

TEST(OverlayFit, EmptyMultiLineAndNonUtf8TextsDoNotFit) {
    EXPECT_EQ(fitOverlayLine("").why, "the text is empty");
    const OverlayFit broken = fitOverlayLine("render failed:\nTraceback");
    EXPECT_FALSE(broken.fits);
    EXPECT_EQ(broken.why, "holds a line break at byte 14; the overlay draws one line");
    EXPECT_EQ(fitOverlayLine("tab\there").why, "holds a tab at byte 3; the overlay draws one line");
    EXPECT_EQ(fitOverlayLine("bad \xff byte").why, "not UTF-8 (byte 4)");
    EXPECT_TRUE(fitOverlayLine("Fehler: Bild zu gro\xc3\x9f").fits);
    EXPECT_FALSE(fitOverlayLine(std::string(5000, 'x')).fits);
}

// ---- poll replies ----------------------------------------------------------------

TEST(Replies, PollAnswersAreReadAsTheClientReadsThem) {
    EXPECT_EQ(classifyPoll(map({{"result", map({{"result", "no_result_found"}})}})), PollAnswer::Pending);
    EXPECT_EQ(classifyPoll(map({{"result", "no_result_found"}})), PollAnswer::BareMarker);
    EXPECT_EQ(classifyPoll(map({{"result", map({{"image", 1}})}})), PollAnswer::Result);
    // An error wins over a result; an empty error is no error.
    EXPECT_EQ(classifyPoll(map({{"error", "gone"}, {"result", 1}})), PollAnswer::Error);
    EXPECT_EQ(classifyPoll(map({{"error", ""}, {"result", 1}})), PollAnswer::Result);
    EXPECT_EQ(classifyPoll(map({{"status", "queued"}})), PollAnswer::Nothing);
    EXPECT_TRUE(isQueued(map({{"status", "queued"}})));
    EXPECT_FALSE(isQueued(map({{"status", "queued"}, {"result", 1}})));
    EXPECT_TRUE(hasErrorEntry(map({{"error", ""}})));
    EXPECT_FALSE(hasErrorEntry(map({{"error", 42}})));
}

TEST(Replies, BriefShowsStructureNotBulk) {
    Dict reply = map({{"result", map({{"pixels", Dict(std::vector<char>(5000, 'x'))}, {"n", 3}})}});
    EXPECT_EQ(brief(reply), "{\"result\": {\"n\": 3, \"pixels\": <5000 bytes>}}");
    EXPECT_LE(brief(Dict(std::string(10000, 'y'))).size(), 123u);
}

// ---- server texts on a terminal and in JSON -----------------------------------------

TEST(Text, ServerTextsCannotControlTheTerminalOrBreakJson) {
    const std::string nasty = "a\"b\\c\nd\x1b[31me\xff";
    EXPECT_EQ(printable(nasty), "a\"b\\c\\nd\\x1b[31me\\xff");
    EXPECT_EQ(JsonText::quote(nasty), "\"a\\\"b\\\\c\\nd\\u001b[31me\\u00ff\"");
    EXPECT_EQ(printable("gro\xc3\x9f \xc2\x9b"), "gro\xc3\x9f \\xc2\\x9b");  // C1 control escaped, UTF-8 kept
    EXPECT_EQ(quoted("abcdef", 3), "\"abc...\"");
    EXPECT_EQ(firstBadUtf8("ok \xe2\x82\xac"), std::string::npos);
    EXPECT_EQ(firstBadUtf8("\xed\xa0\x80"), 0u);  // a surrogate
    EXPECT_EQ(firstBadUtf8("x\xc0\xaf"), 1u);    // an overlong slash
}

// ---- the list of checks --------------------------------------------------------------

TEST(Checks, EachNeedComesEarlierAndNamesAreUnique) {
    std::set<std::string> seen;
    for (const Check& check : allChecks()) {
        for (const std::string& need : check.needs) EXPECT_TRUE(seen.count(need)) << check.name << " needs " << need;
        EXPECT_TRUE(seen.insert(check.name).second) << check.name;
        EXPECT_FALSE(check.meaning.empty());
        EXPECT_FALSE(check.expected.empty());
    }
    EXPECT_EQ(allChecks().front().name, "transport.post");
}

TEST(Checks, SelectorsNameOneCheckOrAWholeGroup) {
    EXPECT_EQ(selectChecks("job").size(), 5u);
    EXPECT_EQ(selectChecks("job.").size(), 5u);
    ASSERT_EQ(selectChecks("job.abort").size(), 1u);
    EXPECT_EQ(selectChecks("job.abort")[0]->name, "job.abort");
    EXPECT_TRUE(selectChecks("jo").empty());
    EXPECT_TRUE(selectChecks("").empty());
}

// ---- command line ---------------------------------------------------------------------

TEST(Options, PortOnlyAndFlagsAreRead) {
    const Options o = parseOptions({"--port", "7100", "--only=job", "--only", "images.8bit", "--json"}, 7007);
    EXPECT_EQ(o.port, 7100);
    EXPECT_EQ(o.only, (std::vector<std::string>{"job", "images.8bit"}));
    EXPECT_TRUE(o.json);
    EXPECT_EQ(parseOptions({}, 7007).port, 7007);
}

TEST(Options, RenderParametersKeepThePluginsKindsAndOverTheWorkingValues) {
    const Options o = parseOptions({"--param", "brightness=2", "--param=type=5", "--param", "enable_effect=false",
                                    "--param", "radius=3", "--param", "gain=0.5", "--param", "mode=soft"},
                                   7007);
    Target target;
    target.params = o.params;
    const Dict sent = target.renderParams();
    EXPECT_EQ(brief(sent, 200),
              "{\"brightness\": 2, \"contrast\": 1, \"enable_effect\": false, \"gain\": 0.5, "
              "\"mode\": \"soft\", \"radius\": 3, \"saturation\": 1, \"type\": 5}");
    EXPECT_EQ(sent.get("brightness").type, Dict::Float);
    // The working values change what the user left alone, never what was chosen.
    const Dict working = target.workingParams();
    EXPECT_EQ(working.getFloat("brightness", 0), 2.0);
    EXPECT_EQ(working.getFloat("contrast", 0), 1.3);
    EXPECT_EQ(working.getFloat("saturation", 0), 1.6);
}

TEST(Options, BadArgumentsAreNamed) {
    const auto why = [](std::vector<std::string> args) {
        try {
            parseOptions(args, 7007);
        } catch (const UsageError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(why({"--port", "0"}), "--port needs a TCP port number from 1 to 65535, not '0'");
    EXPECT_EQ(why({"--port", "70000"}), "--port needs a TCP port number from 1 to 65535, not '70000'");
    EXPECT_EQ(why({"--port", "12ab"}), "--port needs a TCP port number from 1 to 65535, not '12ab'");
    EXPECT_EQ(why({"--port"}), "--port needs a value");
    EXPECT_EQ(why({"--only", "nosuch"}), "no check or group named 'nosuch' (see --list)");
    EXPECT_EQ(why({"--fast"}), "unknown argument '--fast' (see --help)");
    EXPECT_EQ(why({"--param", "=3"}), "--param needs NAME=VALUE, not '=3'");
    EXPECT_EQ(why({"--param", "brightness=high"}), "--param brightness needs a finite number, not 'high'");
    EXPECT_EQ(why({"--param", "type=1.5"}), "--param type needs an integer, not '1.5'");
    EXPECT_EQ(why({"--param", "enable_effect=yes"}), "--param enable_effect needs true or false, not 'yes'");
}

}  // namespace
}  // namespace Test
}  // namespace TEV
