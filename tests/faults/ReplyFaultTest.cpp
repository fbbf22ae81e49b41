// Replies that arrive but can't be used, through the plug-in: bodies that are
// empty, cut short or not MessagePack, headers that claim huge sizes, nesting
// past the decoder's bound, entries of the wrong kinds, and result images
// that don't fit the frame. Each ends in the input with the overlay that the
// log line describes, after one exchange, with balanced books; and an error
// text larger than the log file.
#include <cstring>
#include <fstream>

#include <gmock/gmock.h>

#include "FaultSupport.h"

namespace TEV::FaultTest {
namespace {

using ::testing::HasSubstr;

constexpr const char* kDecodingLine = "TEV Error in UniversalRender: Error decoding message: ";

struct BodyFault {
    Misbehaviour misbehaviour;
    const char* detail;  // part of the decoder's text; "" = any
};

class UndecodableReply : public FaultTest, public ::testing::WithParamInterface<BodyFault> {};

TEST_P(UndecodableReply, ToTheCallShowsTheDecodingErrorAfterOneExchange) {
    startServer().setJobScript(invertingJob());
    server->misbehave(GetParam().misbehaviour);
    const PixelWorld input = faultInput();
    double seconds = 0;
    const RenderResult r = timedRender(input, seconds);
    const std::string detail = lastLogged(kDecodingLine);
    EXPECT_THAT(detail, HasSubstr(GetParam().detail));
    EXPECT_FALSE(detail.empty());
    expectOverlay(r, input, pluginError(detail, ""), std::string("reply_fault_") + name(GetParam().misbehaviour));
    EXPECT_LT(seconds, kAnsweredExchangeBound);
    EXPECT_EQ(server->requestCount(), 1u) << "an answered exchange is not retried";
    EXPECT_EQ(renderFailuresLogged(), 1);
    expectBooksBalanced();
}

TEST_P(UndecodableReply, ToAPollShowsTheDecodingErrorAndSendsNoAbort) {
    JobScript script = invertingJob();
    script.queued = true;
    script.pending_polls = 2;
    startServer().setJobScript(script);
    server->pushAnswer("get_result", Answer::misbehave(GetParam().misbehaviour));
    const PixelWorld input = faultInput(16);
    double seconds = 0;
    const RenderResult r = timedRender(input, seconds);
    const std::string detail = lastLogged(kDecodingLine);
    EXPECT_THAT(detail, HasSubstr(GetParam().detail));
    expectOverlay(r, input, pluginError(detail, ""), std::string("poll_fault_") + name(GetParam().misbehaviour));
    EXPECT_LT(seconds, kAnsweredExchangeBound);
    EXPECT_EQ(server->requests("get_result").size(), 1u);
    EXPECT_TRUE(server->abortedJobs().empty());
    expectBooksBalanced();
}

INSTANTIATE_TEST_SUITE_P(Faults, UndecodableReply,
                         ::testing::Values(BodyFault{Misbehaviour::empty_body, "insufficient bytes"},
                                           BodyFault{Misbehaviour::truncated_body, "insufficient bytes"},
                                           BodyFault{Misbehaviour::garbage_body, ""},
                                           BodyFault{Misbehaviour::huge_array_header, ""},
                                           BodyFault{Misbehaviour::huge_string_header, ""},
                                           BodyFault{Misbehaviour::deep_nesting, ""}),
                         [](const ::testing::TestParamInfo<BodyFault>& info) {
                             return name(info.param.misbehaviour);
                         });

TEST_F(FaultTest, TrailingBytesAfterTheReplyAreIgnored) {
    startServer().setJobScript(invertingJob());
    server->misbehave(Misbehaviour::trailing_bytes);
    const PixelWorld input = faultInput();
    double seconds = 0;
    expectProcessed(timedRender(input, seconds), input);
}

// ---- entries of the wrong kinds -------------------------------------------------

TEST_F(FaultTest, WrongKindsInTheFirstReplyFailTheCall) {
    // {"error": 42, "status": 1}: no error text, no result, not queued.
    startServer().setJobScript(invertingJob());
    server->misbehave(Misbehaviour::wrong_kinds);
    const PixelWorld input = faultInput();
    double seconds = 0;
    const RenderResult r = timedRender(input, seconds);
    expectOverlay(r, input, pluginError("Failed to send message", ""), "wrong_kinds_call");
    EXPECT_EQ(logMessages().back(), "TEV Error in UniversalRender: Unknown error: Failed to send message");
    EXPECT_LT(seconds, kAnsweredExchangeBound);
    expectBooksBalanced();
}

TEST_F(FaultTest, WrongKindsInProgressAndResultRepliesEndInNoImage) {
    // A progress of 42.5 is read as 0; a result that is an array holds no image.
    JobScript script = invertingJob();
    script.queued = true;
    script.never_finishes = true;
    startServer().setJobScript(script);
    std::vector<A_long> reported;  // the job's percentages (the frame copies count rows)
    std::mutex mutex;
    HostOptions options;
    options.on_progress = [&](A_long current, A_long total) {
        std::lock_guard<std::mutex> lock(mutex);
        if (total == 100) reported.push_back(current);
        return PF_Err_NONE;
    };
    start(options);
    const InstanceId inst = instance();
    // Pending for a few polls, so that progress is asked, then wrong in every entry.
    server->setHandler("get_result", [](const ReceivedRequest&) { return Answer::misbehave(Misbehaviour::wrong_kinds); });
    server->setHandler("get_progress", [](const ReceivedRequest&) { return Answer::misbehave(Misbehaviour::wrong_kinds); });
    for (int i = 0; i < 6; ++i)
        server->pushAnswer("get_result", Answer::result(makeMap({{"result", "no_result_found"}})));
    const PixelWorld input = faultInput();
    double seconds = 0;
    const RenderResult r = timedRender(input, seconds, inst);
    expectOverlay(r, input, errorInTevora("The result holds no image"), "wrong_kinds_poll");
    EXPECT_EQ(logMessages().back(), "Error in UniversalRender: The result holds no image");
    EXPECT_LT(seconds, kAnsweredExchangeBound);
    ASSERT_FALSE(server->requests("get_progress").empty());
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_THAT(reported, ::testing::Each(0)) << "a Float progress is reported as 0";
    EXPECT_FALSE(reported.empty());
    expectBooksBalanced();
}

TEST_F(FaultTest, AnImageDictionaryWithEveryEntryOfTheWrongKindIsRefused) {
    const PixelWorld input = faultInput();
    const std::size_t samples = std::size_t(input.width()) * input.height() * 3;
    const Dict right_bytes(std::vector<char>(samples, '\x40'));
    const long long W = input.width(), H = input.height();
    struct Case {
        const char* name;
        Dict image;
    };
    auto image = [&](Dict width, Dict height, Dict channels, Dict depth, Dict pixels) {
        return makeMap({{"TEV_Dict_Type", "Image"},
                        {"width", std::move(width)},
                        {"height", std::move(height)},
                        {"channels", std::move(channels)},
                        {"bit_depth", std::move(depth)},
                        {"pix_aspect_ratio", "square"},
                        {"rowbytes", Dict(std::vector<Dict>{})},
                        {"downsample", Dict()},
                        {"pixels", std::move(pixels)}});
    };
    const std::vector<Case> cases = {
        {"all_texts", image(std::to_string(W), std::to_string(H), "3", "8", "pixels")},
        {"floats_and_lists", image(double(W), double(H), Dict(std::vector<Dict>{Dict(3)}), 8.0, right_bytes)},
        {"pixels_as_int", image(W, H, 3, 8, 12)},
        {"pixels_as_map", image(W, H, 3, 8, makeMap({{"0", 1}}))},
        {"negative_sizes", image(-W, -H, -3, -8, right_bytes)},
        {"not_an_image_at_all", Dict(std::vector<Dict>{Dict(1), Dict("two")})},
    };
    startServer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobScript script;
        Dict result = makeMap({{"result", makeMap({{"image", c.image}})}});
        script.result = [result](const Dict&) { return result; };
        server->setJobScript(script);
        double seconds = 0;
        const RenderResult r = timedRender(input, seconds);
        const std::string what = lastLogged("Error in UniversalRender: ");
        EXPECT_FALSE(what.empty());
        expectOverlay(r, input, errorInTevora(what), std::string("wrong_kinds_image_") + c.name);
    }
    EXPECT_EQ(renderFailuresLogged(), static_cast<int>(cases.size()));
    expectBooksBalanced();
}

TEST_F(FaultTest, AnErrorEntryThatIsNoTextDoesNotHideAGoodResult) {
    // Only a String "error" is an error; the image beside a numeric one is the result.
    startServer().setHandler("call_plugin", [](const ReceivedRequest& request) {
        Answer a = Answer::result(renderResult(inverted(receivedImage(request))));
        a.body["error"] = Dict(std::vector<Dict>{Dict("not"), Dict("text")});
        return a;
    });
    const PixelWorld input = faultInput();
    double seconds = 0;
    expectProcessed(timedRender(input, seconds), input);
    EXPECT_EQ(renderFailuresLogged(), 0);
}

// ---- result images that don't fit the frame -------------------------------------

Image filled(unsigned short w, unsigned short h, unsigned short channels, unsigned short depth) {
    Image image(w, h, channels, depth, 1.0f, 0, 1.0f);
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels))
        std::fill(f->begin(), f->end(), 0.25f);
    else
        std::fill(std::get<std::vector<unsigned char>>(image.pixels).begin(),
                  std::get<std::vector<unsigned char>>(image.pixels).end(), 0x40);
    return image;
}

class MisfitResult : public FaultTest, public ::testing::WithParamInterface<int> {};

TEST_P(MisfitResult, IsRefusedWithTheReasonAndNoSampleOutsideItIsRead) {
    const int depth = GetParam();
    const PixelWorld input = faultInput(depth);
    const unsigned short w = static_cast<unsigned short>(input.width());
    const unsigned short h = static_cast<unsigned short>(input.height());
    const unsigned short d = static_cast<unsigned short>(depth);
    const unsigned short other_depth = depth == 8 ? 16 : 8;
    auto size = [](int width, int height) { return std::to_string(width) + "x" + std::to_string(height); };

    struct Case {
        std::string name;
        Dict result;
        std::string mentions;
    };
    // A result whose image dictionary is right but for a pixel block cut to `bytes`.
    auto cut = [&](std::size_t bytes) {
        Dict dict(filled(w, h, 3, d));
        auto& block = std::get<std::vector<char>>(dict["pixels"].value);
        block.resize(std::min(block.size(), bytes));
        return makeMap({{"result", makeMap({{"image", dict}})}});
    };
    std::vector<Case> cases = {
        {"smaller", renderResult(filled(w / 2, h, 3, d)), size(w / 2, h)},
        {"larger", renderResult(filled(w, h + 1, 3, d)), size(w, h + 1)},
        {"transposed", renderResult(filled(h, w, 3, d)), size(h, w)},
        {"empty", renderResult(filled(0, 0, 3, d)), "0x0"},
        {"one_channel", renderResult(filled(w, h, 1, d)), "1 channels"},
        {"five_channels", renderResult(filled(w, h, 5, d)), "5 channels"},
        {"other_depth", renderResult(filled(w, h, 3, other_depth)), "bits"},
        {"short_pixels", cut(100), "needs"},
        {"one_sample_short", cut(std::size_t(w) * h * 3 * (depth == 8 ? 1 : depth == 16 ? 2 : 4) - 1), "needs"},
    };
    if (depth == 32) cases.push_back({"byte_storage", renderResult(filled(w, h, 3, 8)), "bytes"});
    if (depth == 8) cases.push_back({"float_storage", renderResult(filled(w, h, 3, 32)), "floats"});

    startServer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobScript script;
        const Dict result = c.result;
        script.result = [result](const Dict&) { return result; };
        server->setJobScript(script);
        double seconds = 0;
        const RenderResult r = timedRender(input, seconds);
        const std::string what = lastLogged("Error in UniversalRender: ");
        EXPECT_THAT(what, HasSubstr(c.mentions));
        expectOverlay(r, input, errorInTevora(what), "misfit_" + c.name + "_" + std::to_string(depth));
        EXPECT_EQ(r.render.err, PF_Err_NONE);
    }
    EXPECT_EQ(renderFailuresLogged(), static_cast<int>(cases.size()));
    expectBooksBalanced();
}

INSTANTIATE_TEST_SUITE_P(Depths, MisfitResult, ::testing::Values(8, 16, 32),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "depth" + std::to_string(info.param);
                         });

// ---- texts ------------------------------------------------------------------------

// A text longer than the log file may grow: the log rotates around it, the
// overlay draws what fits.
TEST_F(FaultTest, AnErrorTextLargerThanTheLogFileIsLoggedAndDrawn) {
    const std::string text = "overflow " + std::string(4 << 20, 'x');
    JobScript script;
    script.result = [text](const Dict&) { return makeMap({{"error", text}}); };
    startServer().setJobScript(script);
    const PixelWorld input = faultInput();
    double seconds = 0;
    const RenderResult r = timedRender(input, seconds);
    expectOverlay(r, input, errorInTevora(text), "huge_error_text");
    EXPECT_LT(seconds, 2 * kAnsweredExchangeBound);
    // Read plainly: the helpers' line pattern recurses once per character.
    std::ifstream log(logPath());
    std::string line, last;
    while (std::getline(log, line))
        if (!line.empty() && line.find("At line") == std::string::npos) last = line;
    ASSERT_GT(last.size(), 20u);
    EXPECT_EQ(last.substr(20), "Error in UniversalRender: " + text);
}

}  // namespace
}  // namespace TEV::FaultTest
