// tev_micro_bench: the pieces of a frame's round trip at the four frame sizes,
// each reporting bytes per second of the frame (three samples per pixel)
// beside BM_Memcpy of the same bytes in the same run.
//
// BM_ImageToDict, BM_Encode, BM_Decode and BM_AsImage are the plain Dict
// paths; BM_EncodeReferencing, BM_Receive and BM_AsImageIntoStore are the
// ones the plug-in takes for frames.
//
// Pixel functions run in a plain loop on one thread over a host-layout
// buffer, one call per pixel as the host's iterate suites make them (which
// spread the same calls over their threads). BM_ChannelCopy moves the same
// samples with a plain row loop instead (four host channels to three samples,
// vectorised by the compiler): what the conversion would cost without a call
// per pixel, which the render bridge's contract (one iterate call with a
// pixel function per copy) does not allow.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "PixelConversion.h"
#include "TEV.h"
#include "TEV_Image.h"
#include "UserTexts.h"

namespace {

struct FrameSize {
    int width, height, depth;
};
const FrameSize kSizes[] = {{1920, 1080, 8}, {1920, 1080, 16}, {1920, 1080, 32}, {3840, 2160, 32}};

const FrameSize& sizeOf(const benchmark::State& state) { return kSizes[state.range(0)]; }

std::size_t frameBytes(const FrameSize& s) {
    return std::size_t(s.width) * s.height * 3 * (s.depth == 8 ? 1 : s.depth == 16 ? 2 : 4);
}

std::string label(const FrameSize& s) {
    return std::to_string(s.width) + "x" + std::to_string(s.height) + "x3 " +
           (s.depth == 32 ? std::string("float") : std::to_string(s.depth) + "-bit");
}

// A frame image with every byte of its store written (so it is resident).
TEV::Image frameImage(const FrameSize& s) {
    TEV::Image image(static_cast<unsigned short>(s.width), static_cast<unsigned short>(s.height), 3,
                     static_cast<unsigned short>(s.depth), 1.0f, 0, 1.0f);
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels))
        for (std::size_t i = 0; i < f->size(); ++i) (*f)[i] = static_cast<float>(i % 1000) / 1000.0f;
    else
        for (auto& b : std::get<std::vector<unsigned char>>(image.pixels)) b = 0x5a;
    return image;
}

TEV::Dict renderArgs(const TEV::Image& image) {
    TEV::Dict args;
    args["image"] = TEV::Dict(image);
    args["params"]["brightness"] = 1.0;
    args["instance_id"] = TEV::generate_uuid();
    return args;
}

void finish(benchmark::State& state, const FrameSize& s) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frameBytes(s)));
    state.SetLabel(label(s));
}

void BM_Memcpy(benchmark::State& state) {
    const FrameSize& s = sizeOf(state);
    std::vector<char> a(frameBytes(s), 1), b(frameBytes(s), 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    finish(state, s);
}

// Image -> image dictionary (the pixels become one Bytes entry).
void BM_ImageToDict(benchmark::State& state) {
    const FrameSize& s = sizeOf(state);
    const TEV::Image image = frameImage(s);
    for (auto _ : state) {
        TEV::Dict d(image);
        benchmark::DoNotOptimize(d);
    }
    finish(state, s);
}

// The render call's arguments -> MessagePack in a fresh buffer.
void BM_Encode(benchmark::State& state) {
    const FrameSize& s = sizeOf(state);
    const TEV::Dict args = renderArgs(frameImage(s));
    for (auto _ : state) {
        msgpack::sbuffer body = TEV::encode_message(args);
        benchmark::DoNotOptimize(body.data());
    }
    finish(state, s);
}

// A reply carrying the frame -> Dict (image dictionary rebuilt).
void BM_Decode(benchmark::State& state) {
    const FrameSize& s = sizeOf(state);
    TEV::Dict reply;
    reply["result"]["result"]["image"] = TEV::Dict(frameImage(s));
    const msgpack::sbuffer body = TEV::encode_message(reply);
    for (auto _ : state) {
        TEV::MessageDict d = TEV::decode_message(body.data(), body.size());
        benchmark::DoNotOptimize(d);
    }
    finish(state, s);
}

// Image dictionary -> Image.
void BM_AsImage(benchmark::State& state) {
    const FrameSize& s = sizeOf(state);
    const TEV::Dict dict(frameImage(s));
    for (auto _ : state) {
        TEV::Image image = dict.asImage();
        benchmark::DoNotOptimize(image);
    }
    finish(state, s);
}

// The plug-in's way out: the call encoded with the samples referenced, then
// read through in 2 MiB pieces as libcurl fills its upload buffer.
void BM_EncodeReferencing(benchmark::State& state) {
    const FrameSize& s = sizeOf(state);
    const TEV::Image image = frameImage(s);
    TEV::Dict args = renderArgs(image);
    TEV::Dict& slot = args["image"];
    slot = TEV::imageDictWithoutSamples(image);
    std::vector<char> upload(2 << 20);
    for (auto _ : state) {
        const TEV::EncodedMessage m = TEV::encode_referencing(args, {{&slot["pixels"], TEV::sampleBytes(image)}});
        for (std::size_t at = 0, n; (n = m.copy(at, upload.data(), upload.size())) > 0; at += n)
            benchmark::DoNotOptimize(upload.data());
    }
    finish(state, s);
}

// The plug-in's way in: the reply fed in 512 KiB pieces with its length
// announced (the pixels set apart as they come), then decoded.
void BM_Receive(benchmark::State& state) {
    const FrameSize& s = sizeOf(state);
    TEV::Dict reply;
    reply["result"]["result"]["image"] = TEV::Dict(frameImage(s));
    const msgpack::sbuffer body = TEV::encode_message(reply);
    const std::size_t piece = 512 << 10;
    for (auto _ : state) {
        TEV::ReceivedMessage received;
        received.expect(body.size());
        for (std::size_t at = 0; at < body.size(); at += piece)
            received.append(body.data() + at, std::min(piece, body.size() - at));
        TEV::MessageDict d = received.decode();
        benchmark::DoNotOptimize(d);
    }
    finish(state, s);
}

// Image dictionary -> Image, into the store of a frame of the same size.
void BM_AsImageIntoStore(benchmark::State& state) {
    const FrameSize& s = sizeOf(state);
    const TEV::Dict dict(frameImage(s));
    TEV::Image frame = frameImage(s);
    for (auto _ : state) {
        frame = dict.asImage(std::move(frame));
        benchmark::DoNotOptimize(frame);
    }
    finish(state, s);
}

// A host-layout world: four channels per pixel, alpha first.
template <class Pixel>
std::vector<Pixel> hostWorld(const FrameSize& s) {
    std::vector<Pixel> world(std::size_t(s.width) * s.height);
    for (std::size_t i = 0; i < world.size(); ++i) {
        world[i].red = static_cast<decltype(world[i].red)>(i % 200);
        world[i].green = static_cast<decltype(world[i].red)>(i % 100);
        world[i].alpha = static_cast<decltype(world[i].red)>(1);
    }
    return world;
}

// The host's loop: row pointers kept, one call through a pointer per pixel.
template <class Pixel>
void walk(const FrameSize& s, TEV::Image& image, std::vector<Pixel>& world,
          PF_Err (*fn)(void*, A_long, A_long, Pixel*, Pixel*)) {
    auto* volatile called = fn;  // called through the pointer, as the host does, never inlined
    auto* const pixel_fn = called;
    for (A_long y = 0; y < s.height; ++y) {
        Pixel* p = world.data() + std::size_t(y) * s.width;
        for (A_long x = 0; x < s.width; ++x, ++p) pixel_fn(&image, x, y, p, p);
    }
}

template <class Pixel>
void pixelBench(benchmark::State& state, PF_Err (*fn)(void*, A_long, A_long, Pixel*, Pixel*)) {
    const FrameSize& s = sizeOf(state);
    TEV::Image image = frameImage(s);
    std::vector<Pixel> world = hostWorld<Pixel>(s);
    for (auto _ : state) {
        walk(s, image, world, fn);
        benchmark::ClobberMemory();
    }
    finish(state, s);
}

void BM_World2Image(benchmark::State& state) {
    switch (sizeOf(state).depth) {
        case 8: return pixelBench<PF_Pixel>(state, TEV::Adobe::World2Image8);
        case 16: return pixelBench<PF_Pixel16>(state, TEV::Adobe::World2Image16);
        default: return pixelBench<PF_PixelFloat>(state, TEV::Adobe::World2Image32);
    }
}

void BM_Image2World(benchmark::State& state) {
    switch (sizeOf(state).depth) {
        case 8: return pixelBench<PF_Pixel>(state, TEV::Adobe::Image2World8);
        case 16: return pixelBench<PF_Pixel16>(state, TEV::Adobe::Image2World16);
        default: return pixelBench<PF_PixelFloat>(state, TEV::Adobe::Image2World32);
    }
}

// The 8-bit frame's samples moved between the host layout (alpha, red, green,
// blue) and three samples per pixel by a plain loop over the rows, range(0):
// 0 world to image, 1 image to world. Each pixel moves as one 32-bit word
// (the host pixel is alpha, red, green, blue in memory: a little-endian word
// shifted by 8 bits), the last pixel of a row on its own so that no word
// reaches past the image.
void BM_ChannelCopy(benchmark::State& state) {
    const FrameSize s = kSizes[0];
    std::vector<unsigned char> image(frameBytes(s), 0x5a);
    std::vector<PF_Pixel> world = hostWorld<PF_Pixel>(s);
    const bool to_world = state.range(0) == 1;
    const int w = s.width;
    for (auto _ : state) {
        for (int y = 0; y < s.height; ++y) {
            PF_Pixel* row = world.data() + std::size_t(y) * w;
            unsigned char* samples = image.data() + std::size_t(y) * w * 3;
            if (to_world) {
                for (int x = 0; x < w - 1; ++x) {
                    std::uint32_t v;
                    std::memcpy(&v, samples + 3 * x, 4);
                    v = (v << 8) | 0xFFu;
                    std::memcpy(row + x, &v, 4);
                }
                row[w - 1] = PF_Pixel{255, samples[3 * w - 3], samples[3 * w - 2], samples[3 * w - 1]};
            } else {
                for (int x = 0; x < w - 1; ++x) {
                    std::uint32_t v;
                    std::memcpy(&v, row + x, 4);
                    v >>= 8;
                    std::memcpy(samples + 3 * x, &v, 4);  // its fourth byte is the next pixel's
                }
                samples[3 * w - 3] = row[w - 1].red;
                samples[3 * w - 2] = row[w - 1].green;
                samples[3 * w - 1] = row[w - 1].blue;
            }
        }
        benchmark::ClobberMemory();
    }
    finish(state, s);
}

// The failure overlay drawn on a frame.
void BM_Overlay(benchmark::State& state) {
    const FrameSize& s = sizeOf(state);
    const TEV::Image clean = frameImage(s);
    TEV::Image image = clean;
    for (auto _ : state) {
        TEV::writeOnImage(image, UserTexts::kCantConnect, UserTexts::kStartOrRestart, UserTexts::kClickReconnect, true,
                          1.0f);
        benchmark::DoNotOptimize(image);
    }
    finish(state, s);
}

#define FRAME_SIZES DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_Memcpy)->FRAME_SIZES;
BENCHMARK(BM_ImageToDict)->FRAME_SIZES;
BENCHMARK(BM_Encode)->FRAME_SIZES;
BENCHMARK(BM_Decode)->FRAME_SIZES;
BENCHMARK(BM_AsImage)->FRAME_SIZES;
BENCHMARK(BM_EncodeReferencing)->FRAME_SIZES;
BENCHMARK(BM_Receive)->FRAME_SIZES;
BENCHMARK(BM_AsImageIntoStore)->FRAME_SIZES;
BENCHMARK(BM_World2Image)->FRAME_SIZES;
BENCHMARK(BM_Image2World)->FRAME_SIZES;
BENCHMARK(BM_ChannelCopy)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Overlay)->FRAME_SIZES;

}  // namespace

BENCHMARK_MAIN();
