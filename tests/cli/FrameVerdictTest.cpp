// Telling a processed frame from the plug-in's failure overlay, without the
// plug-in: overlays drawn here as the plug-in draws them.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "report/FrameVerdict.h"
#include "run/KnownPlugin.h"
#include "SampleClip.h"
#include "TEV.h"
#include "TEV_Image.h"

namespace TEV::Host::Cli {
namespace {

// The world with `text` drawn the way the plug-in draws a failure: its
// three-channel image of the frame, the overlay at `scale`, opaque output.
PixelWorld drawn(const PixelWorld& input, const OverlayText& text, float scale) {
    const int depth = input.depth();
    TEV::Image image(input.width(), input.height(), 3, depth, 1.0f, 0, scale);
    for (int y = 0; y < input.height(); ++y) {
        for (int x = 0; x < input.width(); ++x) {
            const std::size_t i = (std::size_t(y) * input.width() + x) * 3;
            if (depth == 8) {
                const PF_Pixel& p = input.pixel8(x, y);
                auto& s = std::get<std::vector<unsigned char>>(image.pixels);
                s[i] = p.red, s[i + 1] = p.green, s[i + 2] = p.blue;
            } else {
                const PF_PixelFloat& p = input.pixelFloat(x, y);
                auto& s = std::get<std::vector<float>>(image.pixels);
                s[i] = p.red, s[i + 1] = p.green, s[i + 2] = p.blue;
            }
        }
    }
    TEV::writeOnImage(image, text.line1, text.line2, text.line3, true, scale);
    PixelWorld out(input.width(), input.height(), depth);
    for (int y = 0; y < input.height(); ++y) {
        for (int x = 0; x < input.width(); ++x) {
            const std::size_t i = (std::size_t(y) * input.width() + x) * 3;
            if (depth == 8) {
                const auto& s = std::get<std::vector<unsigned char>>(image.pixels);
                out.pixel8(x, y) = PF_Pixel{255, s[i], s[i + 1], s[i + 2]};
            } else {
                const auto& s = std::get<std::vector<float>>(image.pixels);
                out.pixelFloat(x, y) = PF_PixelFloat{1.0f, s[i], s[i + 1], s[i + 2]};
            }
        }
    }
    return out;
}

const OverlayText kThrownCantConnect{"Can't connect to the TEVORA", "Please start or restart it.",
                                     "Then, click the Reconnect button from this plugin"};

TEST(FrameVerdict, FindsTheOverlayThatReproducesTheFrameAmongAllLoggedCandidates) {
    const PixelWorld input = sampleFrame(320, 180, 3, 8).convertedTo(8);
    // Log lines of two frames in flight at once: a time-out and a refusal.
    const std::vector<std::string> log = {
        "TEV Error in UniversalRender: Timeout exceeded: 30 seconds",
        "Error in UniversalRender: Tensor(GPU) is not available on this machine",
        "welcome!",
    };
    Verdict v = judgeFrame(input, drawn(input, {"Error in Tevora Plugin", "30 seconds", ""}, 1.0f), 1.0f, log);
    EXPECT_EQ(v.state, FrameState::Overlay);
    EXPECT_EQ(v.overlay.summary(), "Error in Tevora Plugin / 30 seconds");

    v = judgeFrame(input, drawn(input, {"Error in Tevora", "Tensor(GPU) is not available on this machine",
                                        "View logs for details"}, 1.0f), 1.0f, log);
    EXPECT_EQ(v.state, FrameState::Overlay);
    EXPECT_EQ(v.overlay.line2, "Tensor(GPU) is not available on this machine");

    // A detail with ". " inside: every split is tried.
    const OverlayText split{"Error in Tevora Plugin", "get_result: no job. Expired", "While getting the result"};
    v = judgeFrame(input, drawn(input, split, 1.0f), 1.0f,
                   {"TEV Error in UniversalRender: Exception in plugin: get_result: no job. Expired. While getting "
                    "the result"});
    EXPECT_TRUE(v.overlay == split) << v.overlay.summary();
}

TEST(FrameVerdict, TellsAnOverlayFromTheFrameAloneAndNamesOutagesWithoutALogLine) {
    const PixelWorld input = sampleFrame(256, 144, 1, 8).convertedTo(32);
    OverlayText known = kThrownCantConnect;
    known.line3 += ".";
    // Both "Can't connect" overlays are recognised without a log line, as outages.
    for (const OverlayText& text : {known, kThrownCantConnect}) {
        const Verdict v = judgeFrame(input, drawn(input, text, 0.5f), 0.5f, {});
        EXPECT_EQ(v.state, FrameState::Overlay);
        EXPECT_TRUE(v.overlay == text) << v.overlay.summary();
        EXPECT_TRUE(v.overlay.outage);
    }
    // The scale matters: drawn at full size, it is not the overlay of a half-size preview.
    EXPECT_FALSE(showsOverlay(input, drawn(input, known, 1.0f), known, 0.5f));

    // The server's refusal with no readable log: an overlay all the same, unnamed.
    const PixelWorld input8 = sampleFrame(320, 180, 4, 8).convertedTo(8);
    const OverlayText refusal{"Error in Tevora", "Tensor(GPU) is not available on this machine",
                              "View logs for details"};
    Verdict v = judgeFrame(input8, drawn(input8, refusal, 1.0f), 1.0f, {});
    EXPECT_EQ(v.state, FrameState::Overlay);
    EXPECT_EQ(v.overlay.summary(), "");
    // With its log line it is named, and it is no outage; a job the server lost is one.
    v = judgeFrame(input8, drawn(input8, refusal, 1.0f), 1.0f,
                   {"Error in UniversalRender: Tensor(GPU) is not available on this machine"});
    EXPECT_TRUE(v.overlay == refusal) << v.overlay.summary();
    EXPECT_FALSE(v.overlay.outage);
    const std::string lost = "get_result: no job with request id 'r7'";
    v = judgeFrame(input8, drawn(input8, {"Error in Tevora", lost, "View logs for details"}, 1.0f), 1.0f,
                   {"Error in UniversalRender: " + lost});
    EXPECT_EQ(v.overlay.line2, lost);
    EXPECT_TRUE(v.overlay.outage);
}

TEST(FrameVerdict, ProcessedAndUnchangedFramesAreNotOverlays) {
    const PixelWorld input = sampleFrame(200, 100, 2, 8).convertedTo(8);
    PixelWorld brighter(200, 100, 8);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            PF_Pixel p = input.pixel8(x, y);
            p.red = static_cast<A_u_char>(std::min(255, p.red + 20));
            brighter.pixel8(x, y) = p;
        }
    const std::vector<std::string> log = {"Error in UniversalRender: the server returned no result"};
    EXPECT_EQ(judgeFrame(input, brighter, 1.0f, log).state, FrameState::Processed);
    // Changed in the overlay's band only, but not darkened there: not an overlay.
    PixelWorld band_only = input.convertedTo(8);
    band_only.pixel8(150, 50).red ^= 1;
    EXPECT_EQ(judgeFrame(input, band_only, 1.0f, {}).state, FrameState::Processed);
    PixelWorld same = input.convertedTo(8);
    same.pixel8(0, 0).alpha = 3;  // alpha is not compared
    EXPECT_EQ(judgeFrame(input, same, 1.0f, log).state, FrameState::Unchanged);
    // A reply without result is drawn with an empty second line.
    Verdict v = judgeFrame(input, drawn(input, {"Error in Tevora", "", "View logs for details"}, 1.0f), 1.0f, log);
    EXPECT_EQ(v.state, FrameState::Overlay);
    EXPECT_EQ(v.overlay.summary(), "Error in Tevora / View logs for details");
}

TEST(PluginLog, ReadsRecordsWrittenSinceAnOffsetAndSurvivesRotation) {
    const std::string path = "plugin_log_test.log";
    std::ofstream(path, std::ios::trunc) << "2024-01-02 03:04:05 welcome!\n";
    PluginLog log(path);
    const std::uint64_t start = log.size();
    std::ofstream(path, std::ios::app) << "2024-01-02 03:04:06 Error in UniversalRender: two\nlines\n"
                                          "2024-01-02 03:04:07 At line 185\n";
    EXPECT_EQ(log.messagesSince(start),
              (std::vector<std::string>{"Error in UniversalRender: two\nlines", "At line 185"}));
    std::ofstream(path, std::ios::trunc) << "2024-01-02 03:04:08 new\n";  // shorter: rotated
    EXPECT_EQ(log.messagesSince(start), std::vector<std::string>{"new"});
    EXPECT_TRUE(PluginLog("no_such.log").messagesSince(0).empty());
}

}  // namespace
}  // namespace TEV::Host::Cli
