// Smart rendering through the host: iteration at every depth, abort,
// progress, failures, and several frames rendered at once.
#include <atomic>
#include <thread>

#include "HostTestSupport.h"
#include "ThrownError.h"

namespace TEV::Host::Testing {
namespace {

TEST(HostRender, IterateVisitsEveryPixelExactlyOnceAtEachDepthWithPaddedRows) {
    HostOptions options;
    options.iterate_threads = 4;
    LoadedEffect fx(options);
    fx.host.setParam(fx.inst, "Mode", kModeCount);
    for (int depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        PixelWorld input(300, 23, depth, 40);
        ASSERT_GT(input.rowbytes(), 300u * input.pixelSize());
        RenderResult r = fx.host.render(fx.inst, input);
        ASSERT_TRUE(r.ok()) << r.render.describe();
        int wrong = 0;
        for (int y = 0; y < 23; ++y) {
            for (int x = 0; x < 300; ++x) {
                bool ok;
                if (depth == 8) {
                    const PF_Pixel& p = r.output.pixel8(x, y);
                    ok = p.alpha == 1 && p.red == x % 256 && p.green == y;
                } else if (depth == 16) {
                    const PF_Pixel16& p = r.output.pixel16(x, y);
                    ok = p.alpha == 1 && p.red == x && p.green == y;
                } else {
                    const PF_PixelFloat& p = r.output.pixelFloat(x, y);
                    ok = p.alpha == 1.0f && p.red == x && p.green == y;
                }
                wrong += !ok;
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_TRUE(r.output.paddingIntact());
        EXPECT_TRUE(input.paddingIntact());
    }
    Books b = fx.host.books();
    EXPECT_EQ(b.iterate_calls, 3);
    EXPECT_EQ(b.pixels_iterated, 3 * 300 * 23);
}

TEST(HostRender, GainAndInvertReachThePixelsAtEachDepth) {
    LoadedEffect fx;
    fx.host.setParam(fx.inst, "Gain", 0.5);
    fx.host.setParam(fx.inst, "Invert", 1);
    PixelWorld in8(4, 4, 8);
    in8.pixel8(1, 2) = PF_Pixel{255, 200, 100, 0};
    RenderResult r8 = fx.host.render(fx.inst, in8);
    ASSERT_TRUE(r8.ok());
    const PF_Pixel& p8 = r8.output.pixel8(1, 2);
    EXPECT_EQ(p8.alpha, 255);
    EXPECT_EQ(p8.red, 155);   // 255 - 100
    EXPECT_EQ(p8.green, 205); // 255 - 50
    EXPECT_EQ(p8.blue, 255);

    PixelWorld in16(4, 4, 16);
    in16.pixel16(3, 3) = PF_Pixel16{32768, 32768, 16384, 0};
    RenderResult r16 = fx.host.render(fx.inst, in16);
    ASSERT_TRUE(r16.ok());
    EXPECT_EQ(r16.output.pixel16(3, 3).red, 16384);
    EXPECT_EQ(r16.output.pixel16(3, 3).green, 24576);

    PixelWorld in32(4, 4, 32);
    in32.pixelFloat(0, 0) = PF_PixelFloat{1.0f, 2.0f, 0.5f, -1.0f};
    RenderResult r32 = fx.host.render(fx.inst, in32);
    ASSERT_TRUE(r32.ok());
    EXPECT_FLOAT_EQ(r32.output.pixelFloat(0, 0).red, 0.0f);    // 1 - 2 × 0.5
    EXPECT_FLOAT_EQ(r32.output.pixelFloat(0, 0).green, 0.75f);
    EXPECT_FLOAT_EQ(r32.output.pixelFloat(0, 0).blue, 1.5f);   // floats are not clamped
}

TEST(HostRender, AbortAfterNCallsCancelsTheFrameAndLeavesTheOutputUntouched) {
    HostOptions options;
    options.abort_after_calls = 0;  // the very first abort check cancels
    LoadedEffect fx(options);
    PixelWorld input(8, 8, 8);
    input.fill(Rgba{1, 1, 1, 1});
    RenderResult r = fx.host.render(fx.inst, input);
    EXPECT_EQ(r.err(), PF_Interrupt_CANCEL);
    EXPECT_EQ(r.render.command, PF_Cmd_SMART_RENDER);
    EXPECT_EQ(r.output.get(4, 4).a, 0.0f);
    Books b = fx.host.books();
    EXPECT_EQ(b.abort_checks, 1);
    EXPECT_EQ(b.pre_render_data_freed, 1);  // dropped all the same
}

TEST(HostRender, RequestAbortCancelsUntilCleared) {
    LoadedEffect fx;
    PixelWorld input(8, 8, 16);
    fx.host.requestAbort();
    EXPECT_EQ(fx.host.render(fx.inst, input).err(), PF_Interrupt_CANCEL);
    fx.host.clearAbort();
    EXPECT_TRUE(fx.host.render(fx.inst, input).ok());
}

TEST(HostRender, IterationReportsProgressAndStopsOnAProgressError) {
    std::atomic<A_long> last_current{-1}, last_total{-1};
    std::atomic<int> calls{0};
    HostOptions options;
    options.on_progress = [&](A_long current, A_long total) {
        ++calls;
        last_current = current;
        last_total = total;
        return PF_Err_NONE;
    };
    LoadedEffect fx(options);
    PixelWorld input(64, 50, 8);
    ASSERT_TRUE(fx.host.render(fx.inst, input).ok());
    EXPECT_EQ(last_current, 50);  // every row reported done, out of the height
    EXPECT_EQ(last_total, 50);
    EXPECT_GE(calls, 2);          // the effect's own report and the iteration's
    EXPECT_EQ(fx.host.books().progress_calls, calls);

    HostOptions refusing;
    refusing.on_progress = [](A_long current, A_long) { return current > 0 ? PF_Interrupt_CANCEL : PF_Err_NONE; };
    LoadedEffect stopped(refusing);
    EXPECT_EQ(stopped.host.render(stopped.inst, input).err(), PF_Interrupt_CANCEL);
}

TEST(HostRender, FailuresNameTheCommandAndTheCode) {
    LoadedEffect fx;
    fx.host.setParam(fx.inst, "Mode", kModeFail);
    PixelWorld input(8, 8, 32);
    RenderResult r = fx.host.render(fx.inst, input);
    EXPECT_TRUE(r.pre_render.ok());
    EXPECT_EQ(r.err(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(r.render.describe(), "PF_Cmd_SMART_RENDER (24) failed with error 4 (PF_Err_OUT_OF_MEMORY)");
    EXPECT_EQ(TEV::Test::thrownBy<HostError>([&] { r.render.expectOk(); }).code(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(fx.host.unbalanced(), std::vector<std::string>{});
}

TEST(HostRender, ExceptionFromAPixelFunctionOnAWorkerReachesTheEffect) {
    HostOptions options;
    options.iterate_threads = 3;
    LoadedEffect fx(options);
    fx.host.setParam(fx.inst, "Mode", kModeThrow);
    PixelWorld input(64, 64, 8);
    // The effect catches it in EffectMain and answers 512; the process lives on.
    EXPECT_EQ(fx.host.render(fx.inst, input).err(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    fx.host.setParam(fx.inst, "Mode", kModeCopy);
    EXPECT_TRUE(fx.host.render(fx.inst, input).ok());
}

TEST(HostRender, SeveralFramesOfOneInstanceRenderAtOnce) {
    HostOptions options;
    options.iterate_threads = 2;
    LoadedEffect fx(options);
    constexpr int kThreads = 4, kFrames = 6;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int f = 0; f < kFrames; ++f) {
                int depth = (f % 3 == 0) ? 8 : (f % 3 == 1) ? 16 : 32;
                float level = (t * kFrames + f) / float(kThreads * kFrames);
                PixelWorld input(40, 30, depth);
                input.fill(Rgba{level, level, level, 1});
                RenderOptions ro;
                ro.frame = f;
                RenderResult r = fx.host.render(fx.inst, input, ro);
                if (!r.ok() || std::abs(r.output.get(39, 29).r - level) > 0.01f) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong, 0);
    Books b = fx.host.books();
    EXPECT_EQ(b.pre_render_data_handed_out, kThreads * kFrames);
    EXPECT_EQ(b.pre_render_data_freed, kThreads * kFrames);
    EXPECT_EQ(fx.host.unbalanced(), std::vector<std::string>{});
}

}  // namespace
}  // namespace TEV::Host::Testing
