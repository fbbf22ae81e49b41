// tev-host render: frames through one instance of the plug-in, on one or
// more render threads, with progress, Ctrl-C and a summary.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <iomanip>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>
#include <vector>

#include "Commands.h"
#include "Downsample.h"
#include "FrameList.h"
#include "FrameVerdict.h"
#include "ImageFiles.h"
#include "KnownPlugin.h"
#include "Progress.h"

namespace TEV::Host::Cli {

namespace {

std::atomic<HeadlessHost*> g_abort_target{nullptr};
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<HeadlessHost*>::is_always_lock_free,
              "the Ctrl-C handler may only touch lock-free atomics");

extern "C" void onInterrupt(int) {
    if (HeadlessHost* host = g_abort_target.load()) {
        g_interrupted.store(true);
        host->requestAbort();  // stores an atomic flag: safe in a signal handler
    }
}

// The render thread's progress slot; the host calls the progress callback on
// the thread that renders the frame.
thread_local int t_slot = -1;

enum class FrameState { Processed, Unchanged, Overlay, Failed, Aborted };

struct FrameReport {
    FrameState state = FrameState::Failed;
    std::string detail;  // overlay message or failure reason
    double seconds = 0;
};

struct Counts {
    int by_state[5] = {};
};

const char* stateName(FrameState s) {
    switch (s) {
    case FrameState::Processed: return "processed";
    case FrameState::Unchanged: return "unchanged";
    case FrameState::Overlay: return "overlay";
    case FrameState::Failed: return "failed";
    case FrameState::Aborted: return "aborted";
    }
    return "?";
}

std::string frameLine(const FrameJob& job, const FrameReport& report) {
    std::ostringstream line;
    line << "frame " << job.number << "  " << job.input << " -> " << job.output << "  " << std::fixed
         << std::setprecision(2) << report.seconds << " s  " << stateName(report.state);
    if (report.state == FrameState::Aborted) line << " (not written)";
    if (!report.detail.empty()) line << ": " << report.detail;
    return line.str();
}

// Everything the render threads share.
struct RenderRun {
    const CliOptions& options;
    const std::vector<FrameJob>& frames;
    HeadlessHost& host;
    InstanceId inst;
    int depth;
    int png_bits;
    float downsample;  // as the plug-in computes it: 1 × (1 / N) in floats
    PluginLog& log;
    Progress& progress;
    std::optional<ImageFile> first_image;  // frame 0, read before the plug-in was loaded
    std::mutex first_image_mutex{};
    std::atomic<std::size_t> next{0};
    std::mutex counts_mutex{};
    Counts counts{};
};

PixelWorld inputWorld(RenderRun& run, std::size_t k) {
    std::optional<ImageFile> image;
    if (k == 0) {
        std::lock_guard<std::mutex> lock(run.first_image_mutex);
        image.swap(run.first_image);
    }
    if (!image) image = readImage(run.frames[k].input);
    PixelWorld world = std::move(image->world);
    if (world.depth() != run.depth) world = world.convertedTo(run.depth);
    if (run.options.downsample > 1) world = downsampled(world, run.options.downsample);
    return world;
}

FrameReport renderOne(RenderRun& run, std::size_t k) {
    using Clock = std::chrono::steady_clock;
    const FrameJob& job = run.frames[k];
    FrameReport report;
    const Clock::time_point start = Clock::now();
    try {
        PixelWorld input = inputWorld(run, k);
        const std::uint64_t log_start = run.log.size();
        RenderOptions render_options;
        render_options.frame = job.number;
        RenderResult result = run.host.render(run.inst, input, render_options);
        if (result.err() == PF_Interrupt_CANCEL) {
            report.state = FrameState::Aborted;
        } else if (!result.ok()) {
            report.detail = (result.pre_render.ok() ? result.render : result.pre_render).describe();
        } else {
            const Verdict verdict = judgeFrame(input, result.output, run.downsample, run.log.messagesSince(log_start));
            writeImage(job.output, result.output, run.png_bits);
            report.state = verdict.outcome == Outcome::Overlay     ? FrameState::Overlay
                           : verdict.outcome == Outcome::Unchanged ? FrameState::Unchanged
                                                                   : FrameState::Processed;
            report.detail = verdict.overlay.summary();
        }
    } catch (const std::exception& e) {
        report.state = FrameState::Failed;
        report.detail = e.what();
    }
    report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return report;
}

// Renders frames until none is left, Ctrl-C was pressed, or `limit` were done.
void renderThread(RenderRun& run, unsigned slot, std::size_t limit = SIZE_MAX) {
    t_slot = static_cast<int>(slot);
    for (std::size_t done = 0; done < limit; ++done) {
        if (g_interrupted.load()) return;
        const std::size_t k = run.next++;
        if (k >= run.frames.size()) return;
        const FrameJob& job = run.frames[k];
        run.progress.started(slot, job.number);
        const FrameReport report = renderOne(run, k);
        {
            std::lock_guard<std::mutex> lock(run.counts_mutex);
            ++run.counts.by_state[static_cast<int>(report.state)];
        }
        if (report.state == FrameState::Failed) {
            const std::string where = run.frames.size() > 1 ? "frame " + std::to_string(job.number) + ": " : "";
            run.progress.error("tev-host: " + where + report.detail);
        }
        run.progress.finished(slot, frameLine(job, report));
    }
}

std::string describeRun(const CliOptions& o, std::size_t frames, int depth) {
    std::ostringstream s;
    s << "rendering " << frames << (frames == 1 ? " frame" : " frames") << " of " << o.input << " at " << depth
      << " bits";
    if (o.downsample > 1) s << ", downsample 1/" << o.downsample;
    if (frames > 1) s << ", " << o.threads << (o.threads == 1 ? " thread" : " threads");
    s << ", through " << o.plugin;
    return s.str();
}

}  // namespace

void setAbortTarget(HeadlessHost* host) {
    g_abort_target.store(host);
    if (host) {
        struct sigaction action {};
        action.sa_handler = &onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the process
        sigaction(SIGINT, &action, nullptr);
    } else {
        std::signal(SIGINT, SIG_DFL);
    }
}

bool interrupted() { return g_interrupted.load(); }

int renderImage(const CliOptions& options, std::ostream& out, std::ostream& err) {
    using Clock = std::chrono::steady_clock;
    try {
        const std::vector<FrameJob> frames =
            listFrames(options.input, options.output, options.first_frame, options.last_frame, options.frame);
        // The first image is read before the plug-in loads: a bad file ends
        // the run before any server is started.
        ImageFile first = readImage(frames.front().input);
        const int depth = options.depth ? options.depth : first.file_bits;
        const int png_bits = options.png_bits ? options.png_bits : depth == 8 ? 8 : 16;

        HostOptions host_options = hostOptionsFor(options);
        int last_number = 0;
        for (const FrameJob& f : frames) last_number = std::max(last_number, f.number);
        host_options.total_time = (last_number + 1) * host_options.time_step;
        Progress* progress_sink = nullptr;
        host_options.on_progress = [&progress_sink](A_long current, A_long total) -> PF_Err {
            if (progress_sink && t_slot >= 0) progress_sink->report(static_cast<unsigned>(t_slot), current, total);
            return PF_Err_NONE;
        };

        HeadlessHost host(host_options);
        host.load(options.plugin);
        host.globalSetup().expectOk();
        host.paramsSetup().expectOk();
        InstanceId inst = host.createInstance();
        for (const auto& [name, value] : options.set) {
            setParamFromText(host, inst, name, value);
        }
        if (options.reconnect) {
            pressReconnect(host, inst);
            out << "pressed the Reconnect button\n";
        }
        PluginLog log(options.log_file.empty() ? defaultLogFile(options.plugin) : options.log_file);
        const std::uint64_t log_start = log.size();
        out << describeRun(options, frames.size(), depth) << "\n" << std::flush;

        const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(options.threads, frames.size()));
        const Clock::time_point start = Clock::now();
        Counts counts{};
        {
            Progress progress(out, err, options.progress_bar, static_cast<int>(frames.size()), threads);
            progress_sink = &progress;
            RenderRun run{options, frames, host, inst, depth, png_bits,
                          static_cast<float>(1) * (1.0f / static_cast<float>(options.downsample)),
                          log, progress, std::move(first)};
            setAbortTarget(&host);
            // The first frame goes alone: it may have to start the server, and
            // the plug-in draws its "Can't connect" overlay, without sending,
            // on every frame that starts while a launch is under way.
            if (threads > 1) renderThread(run, 0, 1);
            std::vector<std::thread> workers;
            for (unsigned slot = 1; slot < threads; ++slot) {
                workers.emplace_back([&run, slot] { renderThread(run, slot); });
            }
            renderThread(run, 0);
            for (std::thread& w : workers) w.join();
            setAbortTarget(nullptr);
            progress_sink = nullptr;
            counts = run.counts;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

        const int rendered = counts.by_state[0] + counts.by_state[1] + counts.by_state[2];
        out << "total: " << rendered << " of " << frames.size() << " frames written in " << std::fixed
            << std::setprecision(2) << seconds << " s";
        if (rendered > 0) out << " (" << std::setprecision(1) << rendered / seconds << " frames/s)";
        out << ": ";
        for (int s = 0; s < 5; ++s) {
            out << (s ? ", " : "") << counts.by_state[s] << " " << stateName(static_cast<FrameState>(s));
        }
        const std::size_t skipped = frames.size() - rendered - counts.by_state[3] - counts.by_state[4];
        if (skipped) out << ", " << skipped << " not started";
        out << "\n";
        std::size_t failure_lines = 0;
        for (const std::string& m : log.messagesSince(log_start)) {
            if (m.find("UniversalRender: ") != std::string::npos) ++failure_lines;
        }
        if (failure_lines) {
            out << "the plug-in logged " << failure_lines << " render failure" << (failure_lines == 1 ? "" : "s")
                << " in " << log.path() << "\n";
        }

        host.destroyInstance(inst);
        host.globalSetdown();
        if (options.books) {
            std::vector<std::string> report = host.unbalanced();
            out << (report.empty() ? "books: balanced\n" : "books: unbalanced\n");
            for (const std::string& line : report) {
                out << "  " << line << "\n";
            }
        }
        if (interrupted()) return kExitInterrupted;
        if (counts.by_state[3] || counts.by_state[4] || skipped) return kExitFailed;
        if (counts.by_state[2]) return kExitOverlay;
        return kExitOk;
    } catch (const std::exception& e) {
        setAbortTarget(nullptr);
        err << "tev-host: " << e.what() << "\n";
        return kExitFailed;
    }
}

}  // namespace TEV::Host::Cli
