// Frames through the real plug-in and the reference server that its launcher
// starts: exact results at every depth, several render threads, abort.
#include <atomic>
#include <thread>

#include "EndToEndFixture.h"
#include "SampleClip.h"

namespace TEV::E2e {
namespace {

using Host::HostOptions;
using Host::RenderOptions;
using Host::RenderResult;

const Adjustment kAdjust{1.3f, 1.4f, 1.7f};  // clips whites at 8/16 bits, leaves 0..1 at 32

PixelWorld frame(int width, int height, int index, int depth) {
    return Host::Cli::sampleFrame(width, height, index, 12).convertedTo(depth);
}

TEST_P(EndToEndInProfile, FirstFrameLaunchesTheServerAndEveryDepthComesBackAsTheDocumentedAdjustment) {
    ASSERT_EQ(serverPid(), 0);
    PluginSession session(profileOptions(), kAdjust);
    for (int depth : processedDepths()) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        // An odd size: rows of the host's world are padded, the server's are not.
        const PixelWorld input = frame(173, 97, 5, depth);
        RenderResult result = session.host.render(session.inst, input);
        ASSERT_TRUE(result.ok()) << result.render.describe();
        EXPECT_EQ(firstDifference(result.output, expectedOutput(input, kAdjust)), "");
        if (depth == 8) {
            EXPECT_NE(serverPid(), 0) << "the launcher did not start the server";
            EXPECT_NE(launcherLogOfThisCase().find("listening on 127.0.0.1"), std::string::npos);
        }
    }
    if (!smart()) {
        // A float frame can't be had without smart rendering: it is passed on as it came.
        const PixelWorld input = frame(173, 97, 5, 32);
        RenderResult result = session.host.render(session.inst, input);
        ASSERT_TRUE(result.ok()) << result.render.describe();
        EXPECT_EQ(firstDifference(result.output, input), "");
    }
    // The effect switched off: the server returns the frame as it came.
    session.host.setParam(session.inst, "Enable Effect", 0);
    const PixelWorld input = frame(64, 36, 2, 16);
    RenderResult result = session.host.render(session.inst, input);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(firstDifference(result.output, expectedOutput(input, Adjustment{})), "");
}

TEST_P(EndToEndInProfile, ConcurrentRendersOnSeveralThreadsAllComeBackRight) {
    PluginSession session(profileOptions(), kAdjust);
    constexpr int kThreads = 4, kFramesEach = 3;
    const std::vector<int> depths = processedDepths();
    std::vector<std::string> failures(kThreads * kFramesEach);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kFramesEach; ++i) {
                const int index = t * kFramesEach + i;
                const int depth = depths[index % depths.size()];
                const PixelWorld input = frame(120 + index, 68, index, depth);
                RenderOptions options;
                options.frame = index;
                RenderResult result = session.host.render(session.inst, input, options);
                failures[index] = result.ok() ? firstDifference(result.output, expectedOutput(input, kAdjust))
                                              : result.render.describe();
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (std::size_t i = 0; i < failures.size(); ++i) {
        EXPECT_EQ(failures[i], "") << "frame " << i;
    }
}

TEST_P(EndToEndInProfile, AbortDuringAJobReturns517LeavesTheOutputUntouchedAndTheServerDropsTheJob) {
    // The abort is asked for at the job's first progress report, while the
    // server still works on the frame (big enough to take many blocks).
    std::atomic<HeadlessHost*> target{nullptr};
    std::atomic<int> progress_at_abort{-1};
    HostOptions options = profileOptions();
    options.on_progress = [&](A_long current, A_long total) -> PF_Err {
        // Pixel copies report rows of the frame's height; the job reports percent.
        if (total == 100 && progress_at_abort.load() < 0) {
            progress_at_abort = current;
            if (HeadlessHost* host = target.load()) host->requestAbort();
        }
        return PF_Err_NONE;
    };
    PluginSession session(options, kAdjust);
    // Warm up: the server is started and the job board is idle.
    ASSERT_TRUE(session.host.render(session.inst, frame(32, 18, 0, 8)).ok());
    progress_at_abort = -1;
    target = &session.host;

    // A loaded machine may delay the plug-in's polls until the server is done:
    // such a try shows nothing, and a larger frame is tried.
    PixelWorld input;
    RenderResult result;
    for (const int width : {2400, 3840, 5120}) {
        progress_at_abort = -1;
        session.host.clearAbort();
        input = frame(width, width * 9 / 16, 3, processedDepths().back());
        result = session.host.render(session.inst, input);
        if (progress_at_abort.load() >= 0) break;
        ASSERT_TRUE(result.ok()) << "no progress was seen, yet the frame failed: " << result.render.describe();
    }
    EXPECT_EQ(result.render.err, PF_Interrupt_CANCEL) << result.render.describe();
    ASSERT_GE(progress_at_abort.load(), 0) << "the job reported no progress";
    EXPECT_LT(progress_at_abort.load(), 100) << "the job was over before the abort";
    bool untouched = true;  // the host hands a zero-filled output world
    for (int y = 0; y < input.height() && untouched; ++y) {
        for (int x = 0; x < input.width() && untouched; ++x) {
            const Host::Rgba p = result.output.get(x, y);
            untouched = p.a == 0 && p.r == 0 && p.g == 0 && p.b == 0;
        }
    }
    EXPECT_TRUE(untouched) << "the cancelled frame wrote into the output world";
    EXPECT_NE(launcherLogOfThisCase().find("aborted (running)"), std::string::npos) << launcherLogOfThisCase();

    // The next frame renders normally.
    target = nullptr;
    session.host.clearAbort();
    const PixelWorld next = frame(80, 45, 4, 8);
    RenderResult again = session.host.render(session.inst, next);
    ASSERT_TRUE(again.ok()) << again.render.describe();
    EXPECT_EQ(firstDifference(again.output, expectedOutput(next, kAdjust)), "");
}

// For every EndToEndInProfile case, those of the other files included.
INSTANTIATE_TEST_SUITE_P(Profiles, EndToEndInProfile,
                         ::testing::Values(Host::HostProfile::AfterEffects, Host::HostProfile::PremierePro),
                         profileParamName);

}  // namespace
}  // namespace TEV::E2e
