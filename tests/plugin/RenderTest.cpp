// Frames through the plug-in and the fake server: what the request carries,
// what lands in the output world, alpha, progress, abort and several frames
// at once.
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include <gmock/gmock.h>

#include "PluginTestSupport.h"

namespace TEV::PluginTest {
namespace {

using ::testing::Contains;
using ::testing::Pair;

PixelWorld gradient(int width, int height, int depth) {
    PixelWorld world(width, height, depth);
    world.fillGradient();
    return world;
}

TEST_P(ProfileTest, FramesAtEachDepthTravelWithPaddedRowsAndTheResultLandsInTheOutput) {
    startServer().setJobScript(invertingJob());
    start(inProfile());
    const InstanceId inst = host->createInstance();
    for (int depth : processedDepths()) {
        SCOPED_TRACE(depth);
        server->clearRecords();
        const PixelWorld input = gradient(37, 23, depth);
        ASSERT_GT(input.rowbytes(), 37u * input.pixelSize());

        const RenderResult r = host->render(inst, input);
        ASSERT_TRUE(r.ok()) << r.render.describe();

        const std::vector<ReceivedRequest> calls = renderCalls();
        ASSERT_EQ(calls.size(), 1u);
        const Dict& image = calls[0].message.get("args").get("image");
        EXPECT_EQ(image.getInt("width", 0), 37);
        EXPECT_EQ(image.getInt("height", 0), 23);
        EXPECT_EQ(image.getInt("channels", 0), 3);
        EXPECT_EQ(image.getInt("bit_depth", 0), depth);
        EXPECT_EQ(image.getInt("rowbytes", 0), static_cast<long long>(input.rowbytes()));
        EXPECT_EQ(image.getFloat("pix_aspect_ratio", 0), 1.0);
        EXPECT_EQ(image.getFloat("downsample", 0), 1.0);
        const Dict& pixels = image.get("pixels");
        ASSERT_EQ(pixels.type, Dict::Bytes);
        EXPECT_EQ(std::get<std::vector<char>>(pixels.value).size(), 37u * 23 * 3 * (depth / 8));

        // The frame sent is the input's colour, row by row without the padding.
        const Image sent = receivedImage(calls[0]);
        const Image expected_sent = imageFromWorld(input);
        EXPECT_TRUE(sent.pixels == expected_sent.pixels) << "the frame sent differs from the input";

        // The output is the server's inverted frame, fully opaque.
        EXPECT_EQ(differingPixels(r.output, worldFromImage(inverted(expected_sent))), 0);
        EXPECT_TRUE(r.output.paddingIntact());
        EXPECT_TRUE(input.paddingIntact());
    }
    const Books books = host->books();
    if (smart()) {
        EXPECT_EQ(books.pre_render_data_handed_out, 3);
        EXPECT_EQ(books.pre_render_data_freed, 3);
        EXPECT_EQ(books.params_checked_out, 3 * 7);
        EXPECT_EQ(books.params_checked_in, 3 * 7);
    } else {
        // The values come with the command: nothing is checked out.
        EXPECT_EQ(books.frames_set_up, 2);
        EXPECT_EQ(books.frames_set_down, 2);
        EXPECT_EQ(books.params_checked_out, 0);
        EXPECT_EQ(books.pre_render_data_handed_out, 0);
        EXPECT_EQ(books.layers_checked_out, 0);
        EXPECT_EQ(books.outputs_checked_out, 0);
    }
}

TEST_F(PluginTest, ThreeChannelResultsComeBackOpaqueAtEachDepth) {
    startServer().setJobScript(invertingJob());
    start();
    const InstanceId inst = host->createInstance();
    PixelWorld input8(4, 2, 8);
    input8.fill(Rgba{0.2f, 0.4f, 0.6f, 0.0f});  // transparent input: its alpha is never sent
    EXPECT_EQ(host->render(inst, input8).output.pixel8(3, 1).alpha, 255);
    EXPECT_EQ(host->render(inst, input8.convertedTo(16)).output.pixel16(3, 1).alpha, 32768);
    EXPECT_EQ(host->render(inst, input8.convertedTo(32)).output.pixelFloat(3, 1).alpha, 1.0f);
}

TEST_F(PluginTest, FourChannelResultsBringTheirOwnAlphaAtEachDepth) {
    JobScript script;
    script.result = [](const Dict& call) {
        const Image sent = call.get("args").get("image").asImage();
        Image result(sent.width, sent.height, 4, sent.bit_depth, 1.0f, 0, 1.0f);
        const double full = sent.bit_depth == 8 ? 255 : sent.bit_depth == 16 ? 32768 : 1.0;
        for (int y = 0; y < sent.height; ++y)
            for (int x = 0; x < sent.width; ++x) {
                const std::size_t i = (std::size_t(y) * sent.width + x) * 4;
                const double alpha = full * (x + 1) / (sent.width + 1);
                if (auto* f = std::get_if<std::vector<float>>(&result.pixels)) {
                    (*f)[i] = 0.5f, (*f)[i + 3] = static_cast<float>(alpha);
                } else {
                    auto& b = std::get<std::vector<unsigned char>>(result.pixels);
                    if (sent.bit_depth == 16) {
                        const std::uint16_t a = static_cast<std::uint16_t>(alpha);
                        std::memcpy(&b[(i + 3) * 2], &a, 2);
                    } else {
                        b[i + 3] = static_cast<unsigned char>(alpha);
                    }
                }
            }
        return renderResult(result);
    };
    startServer().setJobScript(script);
    start();
    const InstanceId inst = host->createInstance();
    for (int depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        const PixelWorld input = gradient(9, 3, depth);
        const RenderResult r = host->render(inst, input);
        ASSERT_TRUE(r.ok());
        for (int x = 0; x < 9; ++x) {
            const double full = depth == 8 ? 255 : depth == 16 ? 32768 : 1.0;
            const double alpha = full * (x + 1) / 10;
            if (depth == 8) {
                EXPECT_EQ(r.output.pixel8(x, 2).alpha, static_cast<A_u_char>(alpha));
            } else if (depth == 16) {
                EXPECT_EQ(r.output.pixel16(x, 2).alpha, static_cast<A_u_short>(alpha));
            } else {
                EXPECT_EQ(r.output.pixelFloat(x, 2).alpha, static_cast<float>(alpha));
            }
        }
    }
}

TEST_P(ProfileTest, TheRequestCarriesTheFiveParamsWithTheirKindsAndTheIdentity) {
    startServer().setJobScript(invertingJob());
    start(inProfile());
    const InstanceId inst = host->createInstance();
    const PixelWorld input = gradient(8, 8, 8);

    ASSERT_TRUE(host->render(inst, input).ok());
    host->setParam(inst, "Brightness", 1.25);
    host->setParam(inst, "Contrast", 0.5);
    host->setParam(inst, "Saturation", 1.1);
    host->setParam(inst, "Enable Effect", 0);
    host->setParamChoice(inst, "Type", "Tensor(CPU)");
    ASSERT_TRUE(host->render(inst, input).ok());

    const std::vector<ReceivedRequest> calls = renderCalls();
    ASSERT_EQ(calls.size(), 2u);
    const Dict& defaults = calls[0].message.get("args").get("params");
    EXPECT_EQ(defaults.get("brightness").type, Dict::Float);
    EXPECT_EQ(defaults.getFloat("brightness", 0), 1.0);
    EXPECT_EQ(defaults.getFloat("contrast", 0), 1.0);
    EXPECT_EQ(defaults.getFloat("saturation", 0), 1.0);
    EXPECT_EQ(defaults.get("enable_effect").type, Dict::Bool);
    EXPECT_EQ(std::get<bool>(defaults.get("enable_effect").value), true);
    EXPECT_EQ(defaults.get("type").type, Dict::Int);
    EXPECT_EQ(defaults.getInt("type", 0), 1);

    const Dict& changed = calls[1].message.get("args").get("params");
    EXPECT_EQ(changed.getFloat("brightness", 0), 1.25);
    EXPECT_EQ(changed.getFloat("contrast", 0), 0.5);
    EXPECT_EQ(changed.getFloat("saturation", 0), static_cast<double>(1.1f));  // narrowed to float
    EXPECT_EQ(std::get<bool>(changed.get("enable_effect").value), false);
    EXPECT_EQ(changed.getInt("type", 0), 4);

    for (const ReceivedRequest& call : calls) {
        EXPECT_EQ(call.target, "/api");
        EXPECT_EQ(call.header("Content-Type"), "application/x-msgpack");
        EXPECT_EQ(call.message.getString("plugin_id", ""), "ExamplePlugin");
        EXPECT_EQ(call.message.getString("plugin_version", ""), "1.0.0");
        EXPECT_EQ(call.message.getInt("method_version", 0), 1);
        const Dict& args = call.message.get("args");
        EXPECT_EQ(args.get("instance_id").type, Dict::String);
        EXPECT_EQ(args.getString("instance_id", ""), std::string(host->sequenceData(inst).data()));
    }
}

TEST_F(PluginTest, AtHalfResolutionTheFrameIsSentWithDownsampleOneHalf) {
    startServer().setJobScript(invertingJob());
    HostOptions options;
    options.downsample_x = {1, 2};
    options.downsample_y = {1, 2};
    start(options);
    const InstanceId inst = host->createInstance();
    ASSERT_TRUE(host->render(inst, gradient(6, 4, 8)).ok());
    const std::vector<ReceivedRequest> calls = renderCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message.get("args").get("image").getFloat("downsample", 0), 0.5);
}

TEST_P(ProfileTest, AQueuedJobIsPolledAndItsProgressReachesTheHost) {
    JobScript script = invertingJob();
    script.queued = true;
    script.run_time = std::chrono::milliseconds(80);
    script.progress = {Dict(17), Dict(42)};
    startServer().setJobScript(script);

    std::mutex mutex;
    std::vector<std::pair<A_long, A_long>> reports;
    HostOptions options;
    options.on_progress = [&](A_long current, A_long total) {
        std::lock_guard<std::mutex> lock(mutex);
        reports.emplace_back(current, total);
        return PF_Err_NONE;
    };
    start(inProfile(options));
    const InstanceId inst = host->createInstance();
    const PixelWorld input = gradient(16, 7, 16);
    const RenderResult r = host->render(inst, input);
    ASSERT_TRUE(r.ok()) << r.render.describe();
    EXPECT_EQ(differingPixels(r.output, worldFromImage(inverted(imageFromWorld(input)))), 0);

    EXPECT_GT(server->requests("get_result").size(), 1u);
    ASSERT_FALSE(server->requests("get_progress").empty());
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_THAT(reports, Contains(Pair(17, 100)));
    EXPECT_THAT(reports, Contains(Pair(42, 100)));
}

TEST_P(ProfileTest, AnAbortWhileTheJobRunsReturns517LeavesTheOutputUntouchedAndTellsTheServer) {
    JobScript script = invertingJob();
    script.queued = true;
    script.never_finishes = true;
    startServer().setJobScript(script);
    HeadlessHost* user = &start(inProfile());
    // The user cancels while the server works on the frame.
    server->setHandler("get_result", [user](const ReceivedRequest&) {
        user->requestAbort();
        return Answer::result(makeMap({{"result", "no_result_found"}}));
    });
    const InstanceId inst = host->createInstance();
    const RenderResult r = host->render(inst, gradient(12, 5, 8));

    EXPECT_EQ(r.render.err, PF_Interrupt_CANCEL);
    EXPECT_TRUE(allZero(r.output)) << "the output world was written";
    EXPECT_TRUE(r.output.paddingIntact());
    const std::vector<ReceivedRequest> calls = renderCalls();
    ASSERT_EQ(calls.size(), 1u);
    const std::vector<std::string> aborted = server->abortedJobs();
    ASSERT_EQ(aborted.size(), 1u);
    EXPECT_EQ(aborted[0], calls[0].message.getString("request_id", "?"));
    EXPECT_EQ(countLogMessages("Error in UniversalRender"), 0) << "a cancel is no failure";
    EXPECT_EQ(countLogMessages("TEV Error in UniversalRender"), 0);
}

TEST_P(ProfileTest, AnAbortBeforeTheFrameIsCopiedAlsoReturns517WithTheOutputUntouched) {
    JobScript script = invertingJob();
    script.queued = true;
    script.never_finishes = true;
    startServer().setJobScript(script);
    start(inProfile());
    const InstanceId inst = host->createInstance();
    host->requestAbort();
    const RenderResult r = host->render(inst, gradient(12, 5, 8));
    EXPECT_EQ(r.render.err, PF_Interrupt_CANCEL);
    EXPECT_TRUE(allZero(r.output)) << "the output world was written";
    EXPECT_TRUE(server->requests("get_result").empty()) << "the job was polled after the cancel";
    EXPECT_EQ(countLogMessages("Error in UniversalRender"), 0);
}

TEST_P(ProfileTest, SeveralFramesRenderedAtOnceEachGetTheirOwnResult) {
    JobScript script = invertingJob();
    script.queued = true;
    script.pending_polls = 2;
    startServer().setJobScript(script);
    start(inProfile());
    const InstanceId inst = host->createInstance();

    constexpr int kThreads = 4;
    std::vector<PixelWorld> inputs;
    for (int t = 0; t < kThreads; ++t) {
        PixelWorld input(20 + t, 6, 8);
        input.fill(Rgba{0.1f * t, 0.5f, 1.0f - 0.2f * t, 1.0f});
        inputs.push_back(std::move(input));
    }
    std::vector<RenderResult> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { results[t] = host->render(inst, inputs[t]); });
    for (std::thread& thread : threads) thread.join();

    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE(t);
        ASSERT_TRUE(results[t].ok()) << results[t].render.describe();
        EXPECT_EQ(differingPixels(results[t].output, worldFromImage(inverted(imageFromWorld(inputs[t])))), 0);
    }
    EXPECT_EQ(renderCalls().size(), static_cast<std::size_t>(kThreads));
}

// For every ProfileTest case, those of the other files included.
INSTANTIATE_TEST_SUITE_P(Profiles, ProfileTest,
                         ::testing::Values(HostProfile::AfterEffects, HostProfile::PremierePro), profileParamName);

}  // namespace
}  // namespace TEV::PluginTest
