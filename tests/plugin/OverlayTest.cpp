// Failures of the round trip drawn into the frame: each case's three lines,
// compared pixel for pixel with the overlay drawn on the same input, and its
// log line. The frames are kept as pictures in the build tree.
#include <atomic>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include <gmock/gmock.h>

#include "PluginTestSupport.h"

namespace TEV::PluginTest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

PixelWorld overlayInput(int depth = 8) {
    PixelWorld world(320, 180, depth);
    world.fillGradient();
    return world;
}

// The frame is the input with exactly these three lines on it, and a picture of it is kept.
void expectOverlay(const RenderResult& r, const PixelWorld& input, const std::string& line1,
                   const std::string& line2, const std::string& line3, const std::string& picture,
                   float scale = 1.0f) {
    ASSERT_TRUE(r.ok()) << r.render.describe();
    writePng(r.output, picture);
    EXPECT_EQ(differingPixels(r.output, expectedOverlay(input, line1, line2, line3, scale)), 0)
        << "the frame is not the input with \"" << line1 << "\" / \"" << line2 << "\" / \"" << line3 << "\"";
    EXPECT_GT(differingPixels(r.output, expectedOverlay(input, "", "", "", scale)), 100) << "no text drawn";
    if (input.depth() == 8) {
        EXPECT_GT(darkenedRows(input, r.output), 0) << "no darkened band";
    }
    EXPECT_TRUE(r.output.paddingIntact());
}

// The last log message, which must begin with `prefix`; returns what follows it.
std::string lastLogged(const std::string& prefix) {
    const std::vector<std::string> messages = logMessages();
    if (messages.empty()) {
        ADD_FAILURE() << "nothing logged";
        return "";
    }
    EXPECT_THAT(messages.back(), StartsWith(prefix));
    return messages.back().substr(std::min(prefix.size(), messages.back().size()));
}

// Each case runs in both host profiles.
class OverlayTest : public ProfileTest {
protected:
    // Starts the server with `script` and the plug-in, applies one instance
    // and renders the overlay input.
    RenderResult renderWith(const JobScript& script, HostOptions options = {}, int depth = 8) {
        if (!server) startServer();
        server->setJobScript(script);
        if (!host) {
            start(inProfile(std::move(options)));
            inst = host->createInstance();
        }
        input = overlayInput(depth);
        return host->render(inst, input);
    }
    InstanceId inst = 0;
    PixelWorld input;
};

JobScript resultIs(Dict result) {
    JobScript script;
    script.result = [result](const Dict&) { return result; };
    return script;
}

TEST_P(OverlayTest, AReplyCarryingAnErrorTextShowsErrorInTevoraWithThatText) {
    const RenderResult r = renderWith(resultIs(makeMap({{"error", "GPU out of memory"}})));
    expectOverlay(r, input, "Error in Tevora", "GPU out of memory", "View logs for details", "reply_error_text");
    EXPECT_EQ(r.render.err, PF_Err_NONE);
    EXPECT_THAT(logMessages(), ElementsAre("welcome!", "ExamplePlugin, v1.0.0 in " + hostTag(),
                                           "Error in UniversalRender: GPU out of memory"));
}

TEST_P(OverlayTest, ANullReplyShowsErrorInTevoraWithAnEmptySecondLine) {
    const RenderResult r = renderWith(resultIs(Dict()));
    expectOverlay(r, input, "Error in Tevora", "", "View logs for details", "reply_null");
    EXPECT_FALSE(lastLogged("Error in UniversalRender: ").empty());
}

TEST_P(OverlayTest, TheErrorTextOverlayIsDrawnAt16And32Bits) {
    for (int depth : processedDepths()) {
        if (depth == 8) continue;
        SCOPED_TRACE(depth);
        const RenderResult r = renderWith(resultIs(makeMap({{"error", "depth test"}})), {}, depth);
        expectOverlay(r, input, "Error in Tevora", "depth test", "View logs for details",
                      "reply_error_text_" + std::to_string(depth));
    }
}

TEST_P(OverlayTest, AtHalfResolutionTheOverlayIsDrawnAtScaleOneHalf) {
    HostOptions options;
    options.downsample_x = {1, 2};
    options.downsample_y = {1, 2};
    const RenderResult r = renderWith(resultIs(makeMap({{"error", "half"}})), options);
    expectOverlay(r, input, "Error in Tevora", "half", "View logs for details", "reply_error_half_resolution",
                  0.5f);
    EXPECT_GT(differingPixels(r.output, expectedOverlay(input, "Error in Tevora", "half", "View logs for details")),
              0);
}

TEST_P(OverlayTest, AServerErrorOnTheCallShowsErrorInTevoraPluginWithDetailAndContext) {
    JobScript script;
    script.call_error = "model not loaded";
    const RenderResult r = renderWith(script);
    expectOverlay(r, input, "Error in Tevora Plugin", "model not loaded", "While doing the initial call",
                  "server_error_on_call");
    EXPECT_EQ(lastLogged("TEV Error in UniversalRender: "),
              "Exception in plugin: model not loaded. While doing the initial call");
}

TEST_P(OverlayTest, AServerErrorWhilePollingShowsTheResultPhaseAsContext) {
    JobScript script = resultIs(Dict());
    script.queued = true;
    script.poll_error = "worker crashed";
    const RenderResult r = renderWith(script);
    expectOverlay(r, input, "Error in Tevora Plugin", "worker crashed", "While getting the result",
                  "server_error_while_polling");
    EXPECT_EQ(lastLogged("TEV Error in UniversalRender: "),
              "Exception in plugin: worker crashed. While getting the result");
}

TEST_P(OverlayTest, AnUndecodableReplyShowsTheDecodingErrorWithAnEmptyThirdLine) {
    startServer().misbehave(Misbehaviour::garbage_body, 1);
    const RenderResult r = renderWith(resultIs(Dict()));
    const std::string detail = lastLogged("TEV Error in UniversalRender: Error decoding message: ");
    EXPECT_FALSE(detail.empty());
    expectOverlay(r, input, "Error in Tevora Plugin", detail, "", "undecodable_reply");
}

TEST_P(OverlayTest, AStandardExceptionDuringTheExchangeShowsGenericError) {
    // The host's progress display fails with an exception while the job runs.
    HostOptions options;
    options.on_progress = [](A_long, A_long total) -> PF_Err {
        if (total == 100) throw std::runtime_error("progress display lost");
        return PF_Err_NONE;
    };
    JobScript script = resultIs(Dict());
    script.queued = true;
    script.never_finishes = true;
    script.progress = {Dict(5)};
    const RenderResult r = renderWith(script, options);
    expectOverlay(r, input, "Generic Error in Tevora", "progress display lost", "View logs for details",
                  "generic_error");
    EXPECT_EQ(lastLogged("Error in UniversalRender: "), "progress display lost");
}

TEST_P(OverlayTest, AResultThatDoesNotFitTheFrameShowsWhatDidNotFit) {
    struct Case {
        const char* name;
        Dict result;
        std::vector<std::string> mentions;
    };
    const Image smaller(10, 10, 3, 8, 1.0f, 0, 1.0f);
    const Image two_channels(320, 180, 2, 8, 1.0f, 0, 1.0f);
    const Image float_store(320, 180, 3, 32, 1.0f, 0, 1.0f);
    const std::vector<Case> cases = {
        {"result_too_small", renderResult(smaller), {"10x10", "320x180"}},
        {"result_two_channels", renderResult(two_channels), {"2 channels"}},
        {"result_float_storage", renderResult(float_store), {"floats", "8-bit"}},
        {"result_without_image", makeMap({{"result", makeMap({{"text", "done"}})}}), {"image"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RenderResult r = renderWith(resultIs(c.result));
        const std::string what = lastLogged("Error in UniversalRender: ");
        for (const std::string& mention : c.mentions) EXPECT_THAT(what, HasSubstr(mention));
        expectOverlay(r, input, "Error in Tevora", what, "View logs for details", c.name);
        EXPECT_EQ(r.render.err, PF_Err_NONE);
    }
    EXPECT_EQ(countLogMessages("Error in UniversalRender: "), 4);
}

TEST_P(OverlayTest, AHostCancelWhileTheMessageIsCopiedIsReportedAndLeavesTheOutputUnwritten) {
    // The user cancels while the exchange fails: the message frame is never
    // copied, so the host must not be told that the frame rendered. The host
    // answers the cancel to the first progress report after the request left.
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    HostOptions options;
    options.on_progress = [cancelled](A_long, A_long) -> PF_Err {
        return *cancelled ? PF_Interrupt_CANCEL : PF_Err_NONE;
    };
    startServer();
    start(inProfile(options));
    inst = host->createInstance();
    server->setHandler("call_plugin", [cancelled](const ReceivedRequest&) {
        *cancelled = true;
        return Answer::misbehave(Misbehaviour::garbage_body);
    });
    input = overlayInput();
    const RenderResult r = host->render(inst, input);
    EXPECT_EQ(r.render.err, PF_Interrupt_CANCEL);
    EXPECT_TRUE(allZero(r.output)) << "the output world was written";
    EXPECT_EQ(countLogMessages("TEV Error in UniversalRender: Error decoding message"), 1);
}

INSTANTIATE_TEST_SUITE_P(Profiles, OverlayTest,
                         ::testing::Values(HostProfile::AfterEffects, HostProfile::PremierePro), profileParamName);

}  // namespace
}  // namespace TEV::PluginTest
