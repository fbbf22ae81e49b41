// tev_frame_bench: the effect's frame round trip, end to end.
//
// The real plug-in (behind the timing shim) renders in the headless host
// against tev_bench_server on the build's port. Three measurements:
//   round trip  four frame sizes against the echo server, next to the floor
//               (Floor.h) measured in the same run on the same server, and
//               the physical bound from rates measured in the same run;
//   threads     fps with 1, 2 and 4 render threads on jobs that the server
//               queues for 50 ms, and the delay from a job's finish to its pickup;
//   memory      the peak resident memory of one render per size, each size in
//               a fresh process (this program with --memory-child).
// The round-trip table comes last; its last line is the worst ratio. The
// plug-in's console lines go to plugin-console.log in the working folder,
// not among the tables.
//
//   tev_frame_bench [--only round-trip|threads|memory] [--size 0..3]
//   tev_frame_bench --profile plugin|floor --size 0..3 [--rounds N]
// (--size: only that one of the four frame sizes; --profile: only N round
// trips of one side against the echo server, no rate probes and no tables,
// for perf or callgrind.)
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ConsoleAside.h"
#include "Floor.h"
#include "Measure.h"
#include "MsgpackScan.h"
#include "RestClient.h"
#include "ServerProcess.h"
#include "TEV.h"
#include "TEVLocations.h"
#include "tevhost/HeadlessHost.h"

namespace {

using namespace TEV::Bench;
using namespace TEV::Host;
using Clock = std::chrono::steady_clock;

constexpr int kPort = TEV_SERVER_PORT;
constexpr int kQueuedMs = 50;

struct FrameSize {
    int width, height, depth;
    std::string name() const {
        return std::to_string(width) + "x" + std::to_string(height) + "x3 " +
               (depth == 32 ? std::string("float") : std::to_string(depth) + "-bit");
    }
    std::size_t sampleBytes() const { return depth == 8 ? 1 : depth == 16 ? 2 : 4; }
    // The frame as it travels: three samples per pixel.
    std::size_t frameBytes() const { return std::size_t(width) * height * 3 * sampleBytes(); }
};

const FrameSize kSizes[] = {{1920, 1080, 8}, {1920, 1080, 16}, {1920, 1080, 32}, {3840, 2160, 32}};

double ms(double seconds) { return seconds * 1e3; }

// The effect loaded behind the timing shim, set up, with one instance.
class Rig {
public:
    explicit Rig(const std::string& module) {
        host_.load(module);
        host_.globalSetup().expectOk();
        host_.paramsSetup().expectOk();
        instance_ = host_.createInstance();
        void* shim = dlopen(TIMING_SHIM_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (shim) {
            take_nanos_ = reinterpret_cast<std::int64_t (*)()>(dlsym(shim, "TevBenchTakeFrameNanos"));
            take_cpu_nanos_ = reinterpret_cast<std::int64_t (*)()>(dlsym(shim, "TevBenchTakeFrameCpuNanos"));
        }
        if (shim) dlclose(shim);  // drops only the reference NOLOAD took
    }
    ~Rig() {
        host_.destroyInstance(instance_);
        host_.globalSetdown();
    }

    // Renders `input`; throws when the host reports a failure.
    RenderResult render(const PixelWorld& input) {
        RenderResult r = host_.render(instance_, input);
        if (!r.ok()) throw std::runtime_error("render failed: " + r.render.describe());
        return r;
    }
    // Seconds the calling thread spent in the plug-in's frame commands since
    // the last call (needs the timing shim).
    double takeFrameSeconds() {
        if (!take_nanos_) throw std::runtime_error("the timing shim is not loaded");
        return take_nanos_() * 1e-9;
    }
    // Seconds of the process's CPU time spent meanwhile (all threads).
    double takeFrameCpuSeconds() {
        if (!take_cpu_nanos_) throw std::runtime_error("the timing shim is not loaded");
        return take_cpu_nanos_() * 1e-9;
    }

private:
    HeadlessHost host_;
    InstanceId instance_ = 0;
    std::int64_t (*take_nanos_)() = nullptr;
    std::int64_t (*take_cpu_nanos_)() = nullptr;
};

// The echo server sends the frame back: every colour equals the input's,
// every alpha is opaque. Throws naming the first pixel that differs.
void expectEcho(const PixelWorld& in, const PixelWorld& out) {
    for (int y = 0; y < in.height(); ++y) {
        for (int x = 0; x < in.width(); ++x) {
            bool same;
            if (in.depth() == 8) {
                const PF_Pixel &a = in.pixel8(x, y), &b = out.pixel8(x, y);
                same = a.red == b.red && a.green == b.green && a.blue == b.blue && b.alpha == PF_MAX_CHAN8;
            } else if (in.depth() == 16) {
                const PF_Pixel16 &a = in.pixel16(x, y), &b = out.pixel16(x, y);
                same = a.red == b.red && a.green == b.green && a.blue == b.blue && b.alpha == PF_MAX_CHAN16;
            } else {
                const PF_PixelFloat &a = in.pixelFloat(x, y), &b = out.pixelFloat(x, y);
                same = a.red == b.red && a.green == b.green && a.blue == b.blue && b.alpha == 1.0f;
            }
            if (!same)
                throw std::runtime_error("the rendered frame differs from the echoed input at pixel (" +
                                         std::to_string(x) + ", " + std::to_string(y) +
                                         "): the render took an error path");
        }
    }
}

// An input world with distinct colours per pixel.
PixelWorld inputWorld(const FrameSize& size) {
    PixelWorld world(size.width, size.height, size.depth);
    world.fillGradient();
    return world;
}

// The encoded call as the plug-in sends it, and where its pixel block lies.
std::vector<char> encodedCall(const FrameSize& size, std::size_t& pixel_offset) {
    TEV::Dict params;
    params["brightness"] = 1.0;
    params["contrast"] = 1.0;
    params["saturation"] = 1.0;
    params["enable_effect"] = true;
    params["type"] = 1;
    TEV::Dict args;
    args["image"] = TEV::Dict(TEV::Image(static_cast<unsigned short>(size.width),
                                         static_cast<unsigned short>(size.height), 3,
                                         static_cast<unsigned short>(size.depth), 1.0f, 0, 1.0f));
    args["params"] = std::move(params);
    args["instance_id"] = TEV::generate_uuid();
    TEV::Dict call;
    call["method"] = "call_plugin";
    call["method_version"] = 1;
    call["function_name"] = "render";
    call["args"] = std::move(args);
    call["request_id"] = TEV::generate_uuid();
    call["plugin_id"] = "ExamplePlugin";
    call["plugin_version"] = "1.0.0";
    call["tev_lib_version"] = "2";
    const msgpack::sbuffer body = TEV::encode_message(call);
    std::vector<char> bytes(body.data(), body.data() + body.size());
    Span pixels;
    if (!readBin(mapValue(mapValue(mapValue({bytes.data(), bytes.size()}, "args"), "image"), "pixels"), pixels) ||
        pixels.size != size.frameBytes())
        throw std::runtime_error("the encoded call has no pixel block of the frame's size");
    pixel_offset = static_cast<std::size_t>(pixels.data - bytes.data());
    return bytes;
}

// ---- round trip ------------------------------------------------------------

// The physical bound of one frame's trip from the rates measured in the run:
// the request and the reply cross loopback once each, and the frame is
// copied once in each direction at memcpy speed.
struct Rates {
    double memcpy_rate, loopback_rate;
    // `body_bytes`: the encoded call (the reply is as large, less a few bytes).
    double bound(std::size_t body_bytes, const FrameSize& size) const {
        return 2.0 * body_bytes / loopback_rate + 2.0 * size.frameBytes() / memcpy_rate;
    }
    double bound(const FrameSize& size) const {
        std::size_t pixel_offset = 0;
        return bound(encodedCall(size, pixel_offset).size(), size);
    }
};

struct RoundTripRow {
    FrameSize size;
    double plugin_s, floor_s, bound_s;
    double plugin_cpu_s, floor_cpu_s;
};

// Both sides against the echo server, rounds interleaved so that a change of
// the machine's load meets both alike.
class RoundTrip {
public:
    RoundTrip(Rig& rig, const FrameSize& size) : rig_(rig), size_(size), input_(inputWorld(size)) {
        std::size_t pixel_offset = 0;
        std::vector<char> call = encodedCall(size, pixel_offset);
        body_bytes_ = call.size();
        floor_ = std::make_unique<Floor>(kPort, std::move(call), pixel_offset, size.frameBytes());
        frame_.assign(size.frameBytes(), 7);
        out_.assign(size.frameBytes(), 0);
        // One round of each first: connections made, stores kept, the echo checked.
        expectEcho(input_, rig.render(input_).output);
        rig.takeFrameSeconds();
        rig.takeFrameCpuSeconds();
        floor_->round(frame_.data(), out_.data());
    }

    void plugin() {
        rig_.render(input_);
        plugin_.push_back(rig_.takeFrameSeconds());
        plugin_cpu_.push_back(rig_.takeFrameCpuSeconds());
    }
    void floor() {
        const Floor::Times t = floor_->round(frame_.data(), out_.data());
        floor_wall_.push_back(t.wall);
        floor_cpu_.push_back(t.cpu);
    }

    // Medians so far, beside the frame's bound.
    RoundTripRow row(const Rates& rates) const {
        return {size_,
                median(plugin_),
                median(floor_wall_),
                rates.bound(body_bytes_, size_),
                median(plugin_cpu_),
                median(floor_cpu_)};
    }

private:
    Rig& rig_;
    FrameSize size_;
    PixelWorld input_;
    std::size_t body_bytes_ = 0;
    std::unique_ptr<Floor> floor_;
    std::vector<char> frame_, out_;
    std::vector<double> plugin_, plugin_cpu_, floor_wall_, floor_cpu_;
};

RoundTripRow roundTrip(Rig& rig, const FrameSize& size, const Rates& rates) {
    const int rounds = size.width > 2000 ? 9 : 21;
    RoundTrip trip(rig, size);
    for (int i = 0; i < rounds; ++i) {
        trip.plugin();
        trip.floor();
    }
    return trip.row(rates);
}

// ---- threads ---------------------------------------------------------------

struct ThreadRow {
    FrameSize size;
    int threads;
    double fps;
    long pickups;
    double pickup_mean_us, pickup_max_us;
    double exchanges_per_frame;  // call, result polls and progress queries
};

// Asks the queued server for its pickup delays since the last ask.
TEV::Dict serverStats(TEV::Rest::Client& client) {
    TEV::Dict ask;
    ask["method"] = "bench_stats";
    return client.send_and_receive_dict(ask).get("result");
}

std::vector<ThreadRow> threadRuns(const std::string& module, const FrameSize& size) {
    Rig rig(module);
    TEV::Rest::Client stats_client;
    stats_client.setPlugin("bench", "1");
    const PixelWorld input = inputWorld(size);
    expectEcho(input, rig.render(input).output);
    std::vector<ThreadRow> rows;
    for (int threads : {1, 2, 4}) {
        const int per_thread = 16;
        serverStats(stats_client);
        const auto start = Clock::now();
        std::vector<std::thread> workers;
        std::vector<std::string> failures(threads);
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                try {
                    for (int i = 0; i < per_thread; ++i) rig.render(input);
                } catch (const std::exception& e) {
                    failures[t] = e.what();
                }
            });
        for (std::thread& w : workers) w.join();
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        for (const std::string& f : failures)
            if (!f.empty()) throw std::runtime_error(f);
        const TEV::Dict stats = serverStats(stats_client);
        const double exchanges = static_cast<double>(stats.getInt("calls", 0) + stats.getInt("polls", 0) +
                                                     stats.getInt("progress", 0));
        rows.push_back({size, threads, threads * per_thread / wall, static_cast<long>(stats.getInt("count", 0)),
                        stats.getFloat("mean_us", 0), stats.getFloat("max_us", 0),
                        exchanges / (threads * per_thread)});
    }
    return rows;
}

// ---- memory ----------------------------------------------------------------

// In a fresh process: one render of `size`; prints the peak resident memory
// above the resident memory before the render, and the host's output world.
int memoryChild(const std::string& module, const FrameSize& size) {
    Rig rig(module);
    const PixelWorld input = inputWorld(size);
    const bool reset = resetPeakResident();
    const std::uint64_t before = residentBytes();
    const std::uint64_t peak_before = peakResidentBytes();
    RenderResult r = rig.render(input);
    const std::uint64_t peak = peakResidentBytes();
    // Without the reset the earlier peak may hide the render's; say so.
    const bool trusted = reset || peak_before <= before;
    const std::size_t output_world = r.output.rowbytes() * static_cast<std::size_t>(r.output.height());
    std::printf("\nMEMORY %llu %zu %d\n", static_cast<unsigned long long>(peak > before ? peak - before : 0), output_world,
                trusted ? 1 : 0);
    return 0;
}

struct MemoryRow {
    FrameSize size;
    double peak_bytes, output_world_bytes;
    bool trusted;
};

MemoryRow memoryRun(const FrameSize& size) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) throw std::runtime_error("cannot find this program's path");
    self[n] = '\0';
    const std::string command = std::string("'") + self + "' --memory-child " + std::to_string(size.width) + " " +
                                std::to_string(size.height) + " " + std::to_string(size.depth);
    FILE* child = ::popen(command.c_str(), "r");
    if (!child) throw std::runtime_error("cannot run " + command);
    // The plug-in prints to standard output too: find the result line.
    unsigned long long peak = 0;
    std::size_t world = 0;
    int trusted = 0;
    int fields = 0;
    char line[4096];
    while (std::fgets(line, sizeof line, child))
        if (std::strncmp(line, "MEMORY ", 7) == 0)
            fields = std::sscanf(line + 7, "%llu %zu %d", &peak, &world, &trusted);
    if (::pclose(child) != 0 || fields != 3) throw std::runtime_error("the memory run of " + size.name() + " failed");
    return {size, static_cast<double>(peak), static_cast<double>(world), trusted != 0};
}

// ---- report ----------------------------------------------------------------

std::string cpuModel() {
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, 10, "model name") == 0) return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

void printThreads(std::FILE* out, const std::vector<ThreadRow>& threads, const Rates& rates) {
    if (threads.empty()) return;
    std::fprintf(out,
                 "\nRender threads on jobs the server finishes %d ms after they arrive (16 frames per thread);\n"
                 "pickup = from a job's finish to the get_result that takes it (server clock); of bound = fps\n"
                 "over threads / (%d ms + the frame's bound: request and reply over loopback + one memcpy each way):\n",
                 kQueuedMs, kQueuedMs);
    std::fprintf(out, "%-20s %7s %8s %9s %12s %11s %15s %9s\n", "frame", "threads", "fps", "speed-up", "pickup mean",
                 "pickup max", "exchanges/frame", "of bound");
    for (const ThreadRow& r : threads) {
        const ThreadRow& one = *std::find_if(threads.begin(), threads.end(), [&](const ThreadRow& o) {
            return o.threads == 1 && o.size.width == r.size.width;
        });
        const double bound_fps = r.threads / (kQueuedMs * 1e-3 + rates.bound(r.size));
        std::fprintf(out, "%-20s %7d %8.1f %8.2fx %9.2f ms %8.2f ms %15.1f %9.2f\n", r.size.name().c_str(), r.threads,
                     r.fps, r.fps / one.fps, r.pickup_mean_us / 1e3, r.pickup_max_us / 1e3, r.exchanges_per_frame,
                     r.fps / bound_fps);
    }
}

void printMemory(std::FILE* out, const std::vector<MemoryRow>& memory) {
    if (memory.empty()) return;
    std::fprintf(out,
                 "\nPeak resident memory of one render, fresh process per size (VmHWM above VmRSS before the\n"
                 "render, less the output world that the host allocates for the frame):\n");
    std::fprintf(out, "%-20s %10s %12s %14s %10s\n", "frame", "frame MB", "peak MB", "host output MB", "x frame");
    for (const MemoryRow& m : memory) {
        const double own = std::max(0.0, m.peak_bytes - m.output_world_bytes);
        std::fprintf(out, "%-20s %10.1f %12.1f %14.1f %9.2fx%s\n", m.size.name().c_str(), m.size.frameBytes() / 1e6,
                     m.peak_bytes / 1e6, m.output_world_bytes / 1e6, own / m.size.frameBytes(),
                     m.trusted ? "" : "  (peak not reset: may be low)");
    }
}

void printRoundTrips(std::FILE* out, const std::vector<RoundTripRow>& trips) {
    if (trips.empty()) return;
    std::fprintf(out,
                 "\nFrame round trip against the echo server (median; plug-in = its smart pre-render and smart\n"
                 "render commands; floor = memcpy in, bare libcurl POST, default unpack, memcpy out; CPU = this\n"
                 "process's CPU time over the same span, all threads, the server's not counted; bound = request\n"
                 "and reply over loopback + one memcpy of the frame each way; of bound = bound / plug-in ms):\n");
    std::fprintf(out, "%-20s %10s %9s %6s %7s %7s %6s %8s %9s %9s\n", "frame", "plug-in ms", "floor ms", "ratio",
                 "CPU ms", "floor", "ratio", "plug fps", "bound ms", "of bound");
    const RoundTripRow* worst = nullptr;
    for (const RoundTripRow& r : trips) {
        std::fprintf(out, "%-20s %10.2f %9.2f %6.2f %7.2f %7.2f %6.2f %8.1f %9.2f %9.2f\n", r.size.name().c_str(),
                     ms(r.plugin_s), ms(r.floor_s), r.plugin_s / r.floor_s, ms(r.plugin_cpu_s), ms(r.floor_cpu_s),
                     r.plugin_cpu_s / r.floor_cpu_s, 1.0 / r.plugin_s, ms(r.bound_s), r.bound_s / r.plugin_s);
        if (!worst || r.plugin_s / r.floor_s > worst->plugin_s / worst->floor_s) worst = &r;
    }
    std::fprintf(out, "worst ratio: %.2f (%s)\n", worst->plugin_s / worst->floor_s, worst->size.name().c_str());
}

// --profile: only `rounds` round trips of one side, for a profiler.
int profileOneSide(const std::string& module, const FrameSize& size, const std::string& side, int rounds) {
    ServerProcess echo(BENCH_SERVER_PATH, {"--port", std::to_string(kPort)}, kPort);
    Rig rig(module);
    RoundTrip trip(rig, size);
    for (int i = 0; i < rounds; ++i) side == "plugin" ? trip.plugin() : trip.floor();
    const RoundTripRow r = trip.row(Rates{1, 1});
    const double wall = side == "plugin" ? r.plugin_s : r.floor_s;
    const double cpu = side == "plugin" ? r.plugin_cpu_s : r.floor_cpu_s;
    std::fprintf(stderr, "%s, %s: %d rounds, median %.2f ms, CPU %.2f ms\n", size.name().c_str(), side.c_str(), rounds,
                 ms(wall), ms(cpu));
    return 0;
}

struct Options {
    std::string only;     // empty: every part
    int size_index = -1;  // -1: every size
    std::string profile;  // "plugin" or "floor": --profile
    int rounds = 5;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc) return false;
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--only" && (value == "round-trip" || value == "threads" || value == "memory"))
            o.only = value;
        else if (name == "--size" && value.size() == 1 && value[0] >= '0' && value[0] <= '3')
            o.size_index = value[0] - '0';
        else if (name == "--profile" && (value == "plugin" || value == "floor"))
            o.profile = value;
        else if (name == "--rounds" && std::atoi(value.c_str()) > 0)
            o.rounds = std::atoi(value.c_str());
        else
            return false;
    }
    return o.profile.empty() || o.size_index >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string module = TIMING_SHIM_PATH;
    try {
        if (argc == 5 && std::strcmp(argv[1], "--memory-child") == 0)
            return memoryChild(EXAMPLE_PLUGIN_PATH, {std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4])});
        Options options;
        if (!parse(argc, argv, options)) {
            std::fprintf(stderr,
                         "usage: tev_frame_bench [--only round-trip|threads|memory] [--size 0..3]\n"
                         "       tev_frame_bench --profile plugin|floor --size 0..3 [--rounds N]\n");
            return 2;
        }
        std::vector<FrameSize> sizes(std::begin(kSizes), std::end(kSizes));
        if (options.size_index >= 0) sizes = {kSizes[options.size_index]};
        auto wanted = [&](const char* section) { return options.only.empty() || options.only == section; };

        // One reference of libcurl's own for the whole run: the plug-in module
        // and this program count their clients separately.
        curl_global_init(CURL_GLOBAL_ALL);
        ConsoleAside console("plugin-console.log");
        std::FILE* out = console.out();
        if (!options.profile.empty()) return profileOneSide(module, sizes[0], options.profile, options.rounds);

        double load[3] = {0, 0, 0};
        ::getloadavg(load, 3);
        std::fprintf(out,
                     "Frame benchmark on %s, %u cores; server port %d; load average %.2f at the start;\n"
                     "the plug-in's console in %s\n",
                     cpuModel().c_str(), std::thread::hardware_concurrency(), kPort, load[0], console.path().c_str());
        const Rates rates{memcpyBytesPerSecond(), loopbackBytesPerSecond()};
        std::fprintf(out, "measured: memcpy %.1f GB/s (one thread), loopback TCP %.2f GB/s (one connection, one way)\n",
                     rates.memcpy_rate / 1e9, rates.loopback_rate / 1e9);
        std::fflush(out);

        std::vector<RoundTripRow> trips;
        std::vector<MemoryRow> memory;
        {
            ServerProcess echo(BENCH_SERVER_PATH, {"--port", std::to_string(kPort)}, kPort);
            if (wanted("round-trip")) {
                Rig rig(module);
                for (const FrameSize& size : sizes) trips.push_back(roundTrip(rig, size, rates));
            }
            if (wanted("memory"))
                for (const FrameSize& size : sizes) memory.push_back(memoryRun(size));
        }
        std::vector<ThreadRow> threads;
        if (wanted("threads")) {
            ServerProcess queued(BENCH_SERVER_PATH,
                                 {"--port", std::to_string(kPort), "--queued-ms", std::to_string(kQueuedMs)}, kPort);
            for (const FrameSize& size : {FrameSize{640, 360, 8}, FrameSize{1920, 1080, 8}}) {
                const std::vector<ThreadRow> rows = threadRuns(module, size);
                threads.insert(threads.end(), rows.begin(), rows.end());
            }
        }
        printThreads(out, threads, rates);
        printMemory(out, memory);
        printRoundTrips(out, trips);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tev_frame_bench: %s\n", e.what());
        return 1;
    }
}
