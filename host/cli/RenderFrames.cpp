// tev-host render: frames through one instance of the plug-in, on one or
// more render threads, with progress, stops (signals, a closed standard
// output, errors that repeat for every file) and a summary.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "Commands.h"
#include "ConsoleCapture.h"
#include "Downsample.h"
#include "FrameList.h"
#include "FrameRecord.h"
#include "FrameVerdict.h"
#include "ImageFiles.h"
#include "KnownPlugin.h"
#include "Progress.h"
#include "SafeFile.h"
#include "StopSignals.h"

namespace fs = std::filesystem;

namespace TEV::Host::Cli {

namespace {

// The render thread's progress slot; the host calls the progress callback on
// the thread that renders the frame.
thread_local int t_slot = -1;

enum class FrameState { Processed, Unchanged, Overlay, Failed, Aborted, Skipped, NotStarted };
constexpr int kStates = 7;

struct FrameReport {
    FrameState state = FrameState::Failed;
    std::string detail;  // overlay message or failure reason
    double seconds = 0;
};

const char* stateName(FrameState s) {
    switch (s) {
    case FrameState::Processed: return "processed";
    case FrameState::Unchanged: return "unchanged";
    case FrameState::Overlay: return "overlay";
    case FrameState::Failed: return "failed";
    case FrameState::Aborted: return "aborted";
    case FrameState::Skipped: return "skipped";
    case FrameState::NotStarted: return "not started";
    }
    return "?";
}

bool written(FrameState s) {
    return s == FrameState::Processed || s == FrameState::Unchanged || s == FrameState::Overlay;
}

std::string frameLine(const FrameJob& job, const FrameReport& report) {
    std::ostringstream line;
    line << "frame " << job.number << "  " << job.input << " -> " << job.output << "  " << std::fixed
         << std::setprecision(2) << report.seconds << " s  " << stateName(report.state);
    if (report.state == FrameState::Aborted) line << " (not written)";
    if (report.state == FrameState::Skipped) line << " (output exists)";
    if (!report.detail.empty()) line << ": " << report.detail;
    return line.str();
}

std::string describeFile(const std::string& path, const ImageFile& image) {
    return "'" + path + "' (" + std::to_string(image.world.width()) + " x " + std::to_string(image.world.height()) +
           ", " + std::to_string(image.file_bits) + " bits)";
}

// Everything the render threads share.
struct RenderRun {
    const CliOptions& options;
    const std::vector<FrameJob>& frames;
    HeadlessHost& host;
    InstanceId inst;
    float downsample;  // as the plug-in computes it: 1 × (1 / N) in floats
    PluginLog& log;
    Progress& progress;
    std::ostream& lines;           // the frame lines: standard output, or stderr with --report -
    std::ostream* records;         // --report, or null
    std::optional<ImageFile> first_image;  // frame 0, read before the plug-in was loaded
    int first_width, first_height, first_bits;
    std::mutex first_image_mutex{};
    std::atomic<std::size_t> next{0};
    std::mutex state_mutex{};
    std::vector<FrameState> states{};
    // A stop other than a signal: an error that every further frame would
    // meet, or the frame lines' stream closed (| head).
    std::atomic<bool> stopping{false};
    bool lines_closed = false;  // under state_mutex
    std::string stop_reason{};  // under state_mutex
};

bool stopRequested(const RenderRun& run) { return run.stopping.load() || StopSignals::received() != 0; }

// Stops the run: no frame starts any more, the frames in flight are aborted.
void stopRun(RenderRun& run, const std::string& reason, bool lines_closed = false) {
    {
        std::lock_guard<std::mutex> lock(run.state_mutex);
        if (run.stop_reason.empty()) run.stop_reason = reason;
        run.lines_closed = run.lines_closed || lines_closed;
    }
    run.stopping.store(true);
    run.host.requestAbort();
}

ImageFile inputImage(RenderRun& run, std::size_t k) {
    std::optional<ImageFile> image;
    if (k == 0) {
        std::lock_guard<std::mutex> lock(run.first_image_mutex);
        image.swap(run.first_image);
    }
    if (!image) {
        image = readImage(run.frames[k].input, run.options.layer);
        if (image->world.width() != run.first_width || image->world.height() != run.first_height ||
            image->file_bits != run.first_bits) {
            run.progress.error("tev-host: warning: frame " + std::to_string(run.frames[k].number) + " " +
                               describeFile(run.frames[k].input, *image) + " differs from the first frame's " +
                               std::to_string(run.first_width) + " x " + std::to_string(run.first_height) + ", " +
                               std::to_string(run.first_bits) + " bits");
        }
    }
    return std::move(*image);
}

// Each output pixel's alpha from the input's (same size and depth), row by
// row; `row(world, y)` is the first pixel of a row.
template <typename Row>
void copyAlphaRows(const PixelWorld& from, PixelWorld& to, Row row) {
    for (int y = 0; y < to.height(); ++y) {
        const auto* in = row(from, y);
        auto* out = row(to, y);
        for (int x = 0; x < to.width(); ++x) out[x].alpha = in[x].alpha;
    }
}

void copyAlpha(const PixelWorld& from, PixelWorld& to) {
    switch (to.depth()) {
    case 8: copyAlphaRows(from, to, [](auto& w, int y) { return &w.pixel8(0, y); }); break;
    case 16: copyAlphaRows(from, to, [](auto& w, int y) { return &w.pixel16(0, y); }); break;
    default: copyAlphaRows(from, to, [](auto& w, int y) { return &w.pixelFloat(0, y); }); break;
    }
}

FrameReport renderOne(RenderRun& run, std::size_t k) {
    using Clock = std::chrono::steady_clock;
    const FrameJob& job = run.frames[k];
    FrameReport report;
    const Clock::time_point start = Clock::now();
    try {
        ImageFile image = inputImage(run, k);
        // Each file renders at its own depth unless --depth forces one.
        const int depth = run.options.depth ? run.options.depth : image.file_bits;
        const int png_bits = run.options.png_bits ? run.options.png_bits : depth == 8 ? 8 : 16;
        PixelWorld input = std::move(image.world);
        if (input.depth() != depth) input = input.convertedTo(depth);
        if (run.options.downsample > 1) input = downsampled(input, run.options.downsample);
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
            if (run.options.alpha == AlphaSource::Input) copyAlpha(input, result.output);
            // A frame that rendered is written even when the run is stopping:
            // it is finished, and the write is whole or nothing.
            std::optional<ExrLayout> layout;
            if (image.exr) layout = *image.exr;
            if (layout && run.options.exr_float) layout->half = false;
            if (layout) layout->downsample = run.options.downsample;
            ImageWriteOptions write_options;
            write_options.png_bits = png_bits;
            write_options.png_level = run.options.png_level;
            write_options.exr_compression = run.options.exr_compression;
            writeImage(job.output, result.output, write_options, layout ? &*layout : nullptr);
            report.state = verdict.outcome == Outcome::Overlay     ? FrameState::Overlay
                           : verdict.outcome == Outcome::Unchanged ? FrameState::Unchanged
                                                                   : FrameState::Processed;
            report.detail = verdict.overlay.summary();
        }
    } catch (const WriteError& e) {
        report.state = FrameState::Failed;
        report.detail = e.what();
        if (repeatsForEveryFile(e.errorNumber())) {
            stopRun(run, std::string(e.what()) + " (every further frame would fail the same way)");
        }
    } catch (const std::exception& e) {
        report.state = FrameState::Failed;
        report.detail = e.what();
    }
    report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return report;
}

void recordFrame(RenderRun& run, const FrameJob& job, const FrameReport& report) {
    if (!run.records) return;
    const std::string line =
        toJsonLine(FrameRecord{job.number, job.input, job.output, report.seconds, stateName(report.state), report.detail});
    std::lock_guard<std::mutex> lock(run.state_mutex);
    *run.records << line << "\n" << std::flush;
}

// Renders frames until none is left, the run stops, or `limit` were done.
void renderThread(RenderRun& run, unsigned slot, std::size_t limit = SIZE_MAX) {
    t_slot = static_cast<int>(slot);
    for (std::size_t done = 0; done < limit; ++done) {
        if (stopRequested(run)) return;
        const std::size_t k = run.next++;
        if (k >= run.frames.size()) return;
        const FrameJob& job = run.frames[k];
        FrameReport report;
        std::error_code ec;
        if (run.options.skip_existing && fs::exists(job.output, ec)) {
            report.state = FrameState::Skipped;
        } else {
            run.progress.started(slot, job.number);
            report = renderOne(run, k);
        }
        {
            std::lock_guard<std::mutex> lock(run.state_mutex);
            run.states[k] = report.state;
        }
        if (report.state == FrameState::Failed && run.frames.size() == 1) {
            run.progress.error("tev-host: " + report.detail);
        }
        run.progress.finished(slot, frameLine(job, report));
        recordFrame(run, job, report);
        if (!run.lines) stopRun(run, "the frame lines' output was closed", true);
    }
}

std::string describeRun(const CliOptions& o, std::size_t frames, const ImageFile& first, unsigned threads) {
    std::ostringstream s;
    s << "rendering " << frames << (frames == 1 ? " frame" : " frames") << " of " << o.input << " at "
      << (o.depth ? o.depth : first.file_bits) << " bits";
    if (!o.depth && frames > 1) s << " (each file at its own depth)";
    if (o.downsample > 1) s << ", downsample 1/" << o.downsample;
    if (frames > 1) s << ", " << threads << (threads == 1 ? " thread" : " threads");
    s << ", through " << o.plugin;
    return s.str();
}

// Replaces a console capture's sink for a scope.
class SinkGuard {
public:
    SinkGuard(ConsoleCapture* console, ConsoleCapture::Sink sink) : console_(console) {
        if (console_) previous_ = console_->setSink(std::move(sink));
    }
    ~SinkGuard() {
        if (console_) console_->setSink(std::move(previous_));
    }
    SinkGuard(const SinkGuard&) = delete;
    SinkGuard& operator=(const SinkGuard&) = delete;

private:
    ConsoleCapture* console_;
    ConsoleCapture::Sink previous_;
};

// Before any render: every output folder takes a new file.
void checkOutputFolders(const std::vector<FrameJob>& frames) {
    std::set<std::string> folders;
    for (const FrameJob& f : frames) folders.insert(fs::path(f.output).parent_path().string());
    for (const std::string& folder : folders) checkFolderWritable(folder.empty() ? "." : folder);
}

void warnAboutThreads(const CliOptions& options, std::ostream& err) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (options.threads > 4 * cores) {
        err << "tev-host: warning: --threads " << options.threads << " is more than 4 times the " << cores
            << " cores: every frame in flight holds its images in memory, and frames beyond what the machine "
               "renders at once only wait\n";
    }
}

}  // namespace

int renderImage(const CliOptions& options, std::ostream& out, std::ostream& err, ConsoleCapture* console) {
    using Clock = std::chrono::steady_clock;
    StopSignals signals;
    try {
        const std::vector<FrameJob> frames =
            listFrames(options.input, options.output,
                       FrameRange{options.first_frame, options.last_frame, options.frame_step}, options.frame);
        // The first image is read and the output folders are tried before the
        // plug-in loads: a bad file or folder ends the run before any server
        // is started.
        ImageFile first = readImage(frames.front().input, options.layer);
        checkOutputFolders(frames);
        warnAboutThreads(options, err);
        std::vector<char> existed(frames.size());
        for (std::size_t k = 0; k < frames.size(); ++k) {
            std::error_code ec;
            existed[k] = fs::exists(frames[k].output, ec);
        }
        std::ofstream report_file;
        std::ostream* records = nullptr;
        if (options.report_file == "-") {
            records = &out;
        } else if (!options.report_file.empty()) {
            report_file.open(options.report_file, std::ios::trunc);
            if (!report_file) {
                throw HostError("cannot write the report '" + options.report_file + "': " + std::strerror(errno));
            }
            records = &report_file;
        }
        std::ostream& lines = records == &out ? err : out;

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
        host.load(pluginLoadPath(options.plugin));
        host.globalSetup().expectOk();
        host.paramsSetup().expectOk();
        InstanceId inst = host.createInstance();
        for (const auto& [name, value] : options.set) {
            setParamFromText(host, inst, name, value);
        }
        if (options.reconnect) {
            pressReconnect(host, inst);
            lines << "pressed the Reconnect button\n";
        }
        PluginLog log(options.log_file.empty() ? defaultLogFile(options.plugin) : options.log_file);
        const std::uint64_t log_start = log.size();
        const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(options.threads, frames.size()));
        lines << describeRun(options, frames.size(), first, threads) << "\n" << std::flush;

        const Clock::time_point start = Clock::now();
        int counts[kStates] = {};
        std::vector<std::string> stale;
        std::string stop_reason;
        bool lines_closed = false;
        {
            Progress progress(lines, err, options.progress_bar, static_cast<int>(frames.size()), threads,
                              options.columns);
            progress_sink = &progress;
            // The plug-in's lines go above the bar while it is drawn; the
            // guard puts the earlier sink back before the bar goes.
            const SinkGuard sink_guard(console, [&progress](const std::string& l) { progress.error("plug-in: " + l); });
            const int first_width = first.world.width(), first_height = first.world.height();
            const int first_bits = first.file_bits;
            RenderRun run{options, frames, host, inst,
                          static_cast<float>(1) * (1.0f / static_cast<float>(options.downsample)),
                          log, progress, lines, records, std::move(first), first_width, first_height, first_bits};
            run.states.assign(frames.size(), FrameState::NotStarted);
            StopSignals::setAbortTarget(&host);
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
            StopSignals::setAbortTarget(nullptr);
            progress_sink = nullptr;
            for (std::size_t k = 0; k < frames.size(); ++k) {
                ++counts[static_cast<int>(run.states[k])];
                if (existed[k] && !written(run.states[k]) && run.states[k] != FrameState::Skipped) {
                    stale.push_back("frame " + std::to_string(frames[k].number) + " " + frames[k].output);
                }
            }
            stop_reason = run.stop_reason;
            lines_closed = run.lines_closed;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

        // With the frame lines' output closed, the summary goes to stderr.
        std::ostream& summary = lines_closed ? err : lines;
        const int rendered = counts[0] + counts[1] + counts[2];
        summary << "total: " << rendered << " of " << frames.size() << " frames written in " << std::fixed
                << std::setprecision(2) << seconds << " s";
        if (rendered > 0) summary << " (" << std::setprecision(1) << rendered / seconds << " frames/s)";
        summary << ": ";
        for (int s = 0; s < 5; ++s) {
            summary << (s ? ", " : "") << counts[s] << " " << stateName(static_cast<FrameState>(s));
        }
        for (int s = 5; s < kStates; ++s) {
            if (counts[s]) summary << ", " << counts[s] << " " << stateName(static_cast<FrameState>(s));
        }
        summary << "\n";
        if (!stale.empty()) {
            summary << "not rewritten, still from an earlier run: ";
            for (std::size_t i = 0; i < stale.size() && i < 10; ++i) summary << (i ? ", " : "") << stale[i];
            if (stale.size() > 10) summary << " and " << stale.size() - 10 << " more";
            summary << "\n";
        }
        std::size_t failure_lines = 0;
        for (const std::string& m : log.messagesSince(log_start)) {
            if (isRenderFailure(m)) ++failure_lines;
        }
        if (failure_lines) {
            summary << "the plug-in logged " << failure_lines << " render failure" << (failure_lines == 1 ? "" : "s")
                    << " in " << log.path() << "\n";
        }
        summary << std::flush;
        const int signal_number = StopSignals::received();
        if (signal_number) {
            err << "tev-host: stopped by SIG" << sigabbrev_np(signal_number) << ": the frames in flight were aborted\n";
        } else if (!stop_reason.empty()) {
            err << "tev-host: stopped: " << stop_reason << "\n";
        }

        host.destroyInstance(inst);
        host.globalSetdown();
        if (options.books) {
            std::vector<std::string> report = host.unbalanced();
            summary << (report.empty() ? "books: balanced\n" : "books: unbalanced\n");
            for (const std::string& line : report) {
                summary << "  " << line << "\n";
            }
        }
        if (signal_number) return exitStatusForSignal(signal_number);
        if (lines_closed) return exitStatusForSignal(SIGPIPE);
        if (counts[3] || counts[4] || counts[6]) return kExitFailed;
        if (counts[2]) return kExitOverlay;
        return kExitOk;
    } catch (const std::exception& e) {
        StopSignals::setAbortTarget(nullptr);
        err << "tev-host: " << e.what() << "\n";
        const int signal_number = StopSignals::received();
        return signal_number ? exitStatusForSignal(signal_number) : kExitFailed;
    }
}

}  // namespace TEV::Host::Cli
