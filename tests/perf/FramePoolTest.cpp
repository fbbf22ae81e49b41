// FramePool: an image from the pool equals a freshly constructed one (no
// sample of an earlier frame survives), stores are reused, and what the pool
// keeps stays bounded.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "FramePool.h"

namespace {

const char* storeOf(const TEV::Image& image) { return TEV::sampleBytes(image).data; }

std::string encoded(const TEV::Image& image) {
    const msgpack::sbuffer b = TEV::encode_message(TEV::Dict(image));
    return std::string(b.data(), b.size());
}

// Writes every sample so that a reused store would show it.
void scribble(TEV::Image& image) {
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels))
        for (float& v : *f) v = 7.5f;
    else
        for (auto& b : std::get<std::vector<unsigned char>>(image.pixels)) b = 0xee;
}

}  // namespace

TEST(FramePool, ReusedStoresComeBackAsFreshZeroFilledImages) {
    FramePool pool;
    for (unsigned short depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        TEV::Image first = pool.image(1024, 512, 3, depth, 1.5f, 4096, 0.5f);
        const char* store = storeOf(first);
        scribble(first);
        pool.giveBack(first);
        EXPECT_EQ(first.sampleCount(), 0u) << "the store went to the pool";

        // Same size, then smaller: the kept store, cleared, and the fields of the new image.
        for (unsigned short width : {1024, 700}) {
            const std::size_t spares = pool.spares();
            TEV::Image again = pool.image(width, 512, 3, depth, 2.0f, 123, 0.25f);
            EXPECT_EQ(pool.spares(), spares - 1) << "taken from the pool";
            EXPECT_EQ(storeOf(again), store);
            EXPECT_EQ(encoded(again), encoded(TEV::Image(width, 512, 3, depth, 2.0f, 123, 0.25f)));
            scribble(again);
            pool.giveBack(again);
        }
        // Larger than any spare: a new store, still equal to a fresh image.
        TEV::Image larger = pool.image(2048, 512, 3, depth, 1.0f, 0, 1.0f);
        EXPECT_EQ(encoded(larger), encoded(TEV::Image(2048, 512, 3, depth, 1.0f, 0, 1.0f)));
    }
}

TEST(FramePool, KeepsFewLargeStoresOnly) {
    FramePool pool;
    TEV::Image small = pool.image(64, 64, 3, 8, 1.0f, 0, 1.0f);  // 12 KB: not worth keeping
    pool.giveBack(small);
    EXPECT_EQ(pool.spares(), 0u);

    std::vector<TEV::Image> frames;
    for (int i = 0; i < 5; ++i) frames.push_back(pool.image(1024, 400 + 10 * i, 3, 8, 1.0f, 0, 1.0f));
    const char* largest = storeOf(frames.back());
    for (TEV::Image& f : frames) pool.giveBack(f);
    EXPECT_EQ(pool.spares(), FramePool::kMaxSpares);
    // A float store, larger than both, takes the place of the smaller one.
    TEV::Image floats = pool.image(1024, 300, 3, 32, 1.0f, 0, 1.0f);
    const char* float_store = storeOf(floats);
    pool.giveBack(floats);
    EXPECT_EQ(pool.spares(), FramePool::kMaxSpares);
    EXPECT_EQ(storeOf(pool.image(1024, 300, 3, 32, 1.0f, 0, 1.0f)), float_store);
    // A full pool keeps the larger stores: the largest one serves the largest frame.
    EXPECT_EQ(storeOf(pool.image(1024, 440, 3, 8, 1.0f, 0, 1.0f)), largest);
}

TEST(FramePool, RenderThreadsShareIt) {
    FramePool pool;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&pool, t] {
            for (int i = 0; i < 50; ++i) {
                TEV::Image image = pool.image(512, 512, 3, t % 2 ? 32 : 16, 1.0f, 0, 1.0f);
                ASSERT_EQ(image.sampleCount(), 512u * 512u * 3u);
                const bool zero = t % 2 ? std::get<std::vector<float>>(image.pixels)[4242] == 0.0f
                                        : std::get<std::vector<unsigned char>>(image.pixels)[4242] == 0;
                ASSERT_TRUE(zero);
                scribble(image);
                pool.giveBack(image);
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_LE(pool.spares(), FramePool::kMaxSpares);
}
