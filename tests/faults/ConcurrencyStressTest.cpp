// Load: eight threads render through one plug-in (three instances, frames at
// 8, 16 and 32 bits) while another thread presses Reconnect, updates the
// parameter UI and moves sliders, and the server is restarted twice on the
// same port: once at once, once after an outage longer than an exchange
// waits. Every frame must come back processed or as the input with one of the
// overlays a render can draw; every overlay that is logged must have its log
// line and every log line its frame; the books balance. Run it under
// ThreadSanitizer as well (the thread build of the suite).
#include <algorithm>
#include <atomic>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include "FaultSupport.h"

namespace TEV::FaultTest {
namespace {

constexpr int kRenderThreads = 8;
constexpr int kInstances = 3;

// A frame that is not the server's result, kept for the verdict.
struct OddFrame {
    int thread;
    PixelWorld output;
};

// A distinct input per thread: a gradient with a band of the thread's colour.
// Wide enough for the final period that tells the two "Can't connect"
// overlays apart, low enough to keep frames cheap under ThreadSanitizer.
PixelWorld threadInput(int t) {
    static const int kDepths[] = {8, 16, 32};
    PixelWorld world(480, 96, kDepths[t % 3]);
    world.fillGradient();
    for (int y = world.height() - 16; y < world.height(); ++y)
        for (int x = 0; x < world.width(); ++x)
            world.set(x, y, Rgba{0.1f * t, 1.0f - 0.1f * t, 0.5f, 1.0f});
    return world;
}

TEST_F(FaultTest, EightRenderThreadsSurviveRestartsReconnectsAndUiUpdates) {
    JobScript script = invertingJob();
    script.queued = true;
    script.pending_polls = 1;
    startServer().setJobScript(script);
    start();
    std::vector<InstanceId> instances;
    for (int i = 0; i < kInstances; ++i) instances.push_back(host->createInstance());

    std::vector<PixelWorld> inputs;
    std::vector<PixelWorld> processed;
    for (int t = 0; t < kRenderThreads; ++t) {
        inputs.push_back(threadInput(t));
        processed.push_back(worldFromImage(inverted(imageFromWorld(inputs.back()))));
        const Overlay a = cannotReach(), b = knownDown();
        ASSERT_GT(differingPixels(expectedOverlay(inputs[t], a.line1, a.line2, a.line3),
                                  expectedOverlay(inputs[t], b.line1, b.line2, b.line3)),
                  0)
            << "the two \"Can't connect\" overlays can't be told apart at this size";
    }

    std::atomic<bool> stop{false};
    std::mutex mutex;  // guards the three records below
    std::vector<int> processed_frames(kRenderThreads, 0);
    std::vector<OddFrame> odd_frames;
    std::vector<std::string> command_failures;

    std::vector<std::thread> renderers;
    for (int t = 0; t < kRenderThreads; ++t) {
        renderers.emplace_back([&, t] {
            const InstanceId inst = instances[t % kInstances];
            while (!stop) {
                RenderResult r = host->render(inst, inputs[t]);
                std::lock_guard<std::mutex> lock(mutex);
                if (!r.ok())
                    command_failures.push_back("render: " + r.render.describe());
                else if (differingPixels(r.output, processed[t]) == 0)
                    ++processed_frames[t];
                else
                    odd_frames.push_back({t, std::move(r.output)});
            }
        });
    }
    std::thread user([&] {
        for (int round = 0; !stop; ++round) {
            const InstanceId inst = instances[round % kInstances];
            std::vector<CommandResult> results;
            results.push_back(host->updateParamsUI(inst));
            host->setParam(inst, kBrightness, 1.0 + 0.01 * (round % 50));
            if (round % 20 == 0) results.push_back(host->userChangedParam(inst, kReconnect));
            for (const CommandResult& c : results) {
                if (c.ok()) continue;
                std::lock_guard<std::mutex> lock(mutex);
                command_failures.push_back(c.describe());
            }
            std::this_thread::sleep_for(milliseconds(50));
        }
    });

    // The server goes away twice: a restart at once, then an outage of 6 s
    // (an exchange gives up after 5 s).
    std::this_thread::sleep_for(milliseconds(2500));
    server.reset();
    startServer().setJobScript(script);
    std::this_thread::sleep_for(milliseconds(2500));
    server.reset();
    std::this_thread::sleep_for(milliseconds(6000));
    startServer().setJobScript(script);
    std::this_thread::sleep_for(milliseconds(3000));
    stop = true;
    for (std::thread& r : renderers) r.join();
    user.join();

    EXPECT_TRUE(command_failures.empty()) << command_failures.size() << " commands failed, first: "
                                          << command_failures.front();
    for (int t = 0; t < kRenderThreads; ++t) EXPECT_GT(processed_frames[t], 0) << "thread " << t;

    // Every other frame is the input with an overlay a render draws: the
    // known-down one (not logged), or one that a log line describes.
    std::vector<std::string> logged;
    for (const std::string& m : logMessages())
        if (!overlaysForLogged(m).empty()) logged.push_back(m);
    std::map<std::string, int> frames_per_line;  // "" for the known-down overlay
    std::map<std::pair<int, std::string>, PixelWorld> drawn;  // (thread, overlay) -> expected frame
    auto matches = [&](const OddFrame& f, const Overlay& o) {
        const auto key = std::make_pair(f.thread, describe(o));
        auto it = drawn.find(key);
        if (it == drawn.end())
            it = drawn.emplace(key, expectedOverlay(inputs[f.thread], o.line1, o.line2, o.line3)).first;
        return differingPixels(f.output, it->second) == 0;
    };
    std::vector<std::string> distinct = logged;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    int unexplained = 0;
    for (const OddFrame& f : odd_frames) {
        std::string verdict = "?";
        if (matches(f, knownDown())) verdict = "";
        for (std::size_t i = 0; verdict == "?" && i < distinct.size(); ++i)
            for (const Overlay& o : overlaysForLogged(distinct[i]))
                if (verdict == "?" && matches(f, o)) verdict = distinct[i];
        if (verdict == "?") {
            ADD_FAILURE() << "thread " << f.thread << ": a frame that is neither processed nor a known overlay: "
                          << writePng(f.output, "stress_unexplained_" + std::to_string(unexplained++));
            continue;
        }
        ++frames_per_line[verdict];
    }
    for (const std::string& line : distinct) {
        const long lines = std::count(logged.begin(), logged.end(), line);
        EXPECT_EQ(frames_per_line[line], lines) << "frames and log lines differ for \"" << line << "\"";
    }
    long logged_frames = 0;
    for (const auto& [line, frames] : frames_per_line) logged_frames += line.empty() ? 0 : frames;
    EXPECT_EQ(logged_frames, static_cast<long>(logged.size())) << "a log line was lost or a frame went unlogged";
    EXPECT_GE(frames_per_line["TEV Error in UniversalRender: Connection failed: Could not reach server."], 1)
        << "the outage outlasted an exchange, so some frame gave up on the server";

    int total = static_cast<int>(odd_frames.size());
    for (int n : processed_frames) total += n;
    std::cout << "stress: " << total << " frames, " << (total - odd_frames.size()) << " processed, "
              << frames_per_line[""] << " known-down, " << logged.size() << " logged failures\n";
    expectBooksBalanced();
}

}  // namespace
}  // namespace TEV::FaultTest
