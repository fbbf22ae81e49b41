// tev-host render: frames through one instance of the plug-in, on one or
// more render threads, with progress, stops (signals, a closed standard
// output, errors that repeat for every file) and a summary.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
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

#include "command/Commands.h"
#include "run/ConsoleCapture.h"
#include "files/Downsample.h"
#include "run/FdStream.h"
#include "frames/FrameChunk.h"
#include "frames/FrameList.h"
#include "report/FrameRecord.h"
#include "report/FrameState.h"
#include "report/FrameVerdict.h"
#include "files/ImageFiles.h"
#include "run/KnownPlugin.h"
#include "run/Progress.h"
#include "report/RunReport.h"
#include "files/SafeFile.h"
#include "run/StopSignals.h"

namespace fs = std::filesystem;

namespace TEV::Host::Cli {

namespace {

// The render thread's progress slot; the host calls the progress callback on
// the thread that renders the frame.
thread_local int t_slot = -1;

struct FrameReport {
    FrameState state = FrameState::Failed;
    std::string detail;  // overlay message or failure reason
    double seconds = 0;
    bool outage = false;  // Overlay: the server was out of reach (see OverlayText::outage)
};

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
    bool lines_needed;             // the frame lines are the run's report (not on stderr)
    std::string lines_name;        // where they go, for messages
    RunReport& report;             // --report
    std::string report_name;       // where it goes, for messages
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
    bool write_failed = false;  // under state_mutex: a needed stream failed (not closed) or a render thread did
    std::string stop_reason{};  // under state_mutex
    // Presses of the Reconnect button so far; one press serves every frame
    // that met the same outage.
    std::mutex reconnect_mutex{};
    std::atomic<unsigned> reconnects{0};
};

enum class StopKind { Other, OutputClosed, Failure };

bool stopRequested(const RenderRun& run) { return run.stopping.load() || StopSignals::received() != 0; }

// Stops the run: no frame starts any more, the frames in flight are aborted.
void stopRun(RenderRun& run, const std::string& reason, StopKind kind = StopKind::Other) {
    {
        std::lock_guard<std::mutex> lock(run.state_mutex);
        if (run.stop_reason.empty()) run.stop_reason = reason;
        run.lines_closed = run.lines_closed || kind == StopKind::OutputClosed;
        run.write_failed = run.write_failed || kind == StopKind::Failure;
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
        if (run.options.downsample > 1) {
            // Blocks on the absolute pixel grid: an EXR's data window need not start at 0, 0.
            const PF_LRect window = image.exr ? image.exr->data_window : PF_LRect{};
            input = downsampled(input, run.options.downsample, window.left, window.top);
        }
        const std::uint64_t log_start = run.log.size();
        RenderOptions render_options;
        render_options.frame = job.number;
        RenderResult result = run.host.render(run.inst, input, render_options);
        if (result.err() == PF_Interrupt_CANCEL) {
            report.state = FrameState::Aborted;
        } else if (!result.ok()) {
            report.detail = (!result.pre_render.ok() ? result.pre_render
                             : !result.render.ok()   ? result.render
                                                     : result.setdown)
                                .describe();
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
            write_options.metadata = image.metadata;
            // An overlay frame is marked, so that a resumed run renders it again.
            if (verdict.state == FrameState::Overlay) write_options.text.emplace_back(kVerdictTag, kOverlayVerdict);
            writeImage(job.output, result.output, write_options, layout ? &*layout : nullptr);
            report.state = verdict.state;
            report.detail = verdict.overlay.summary();
            report.outage = verdict.overlay.outage;
            if (report.state == FrameState::Overlay && report.detail.empty()) {
                report.detail = "(message not found in the plug-in's log)";
            }
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

// A failed write on a stream the run needs (the report, the frame lines on
// standard output) stops the run: a closed pipe as a closed output, any
// other error as a failure named with its place. A failing stderr carries
// nothing the run needs and does not stop it.
void checkOutputs(RenderRun& run) {
    if (const int e = run.report.error()) {
        if (e == EPIPE) stopRun(run, "the report's output (" + run.report_name + ") was closed", StopKind::OutputClosed);
        else stopRun(run, "cannot write the report to " + run.report_name + ": " + std::strerror(e), StopKind::Failure);
    }
    if (!run.lines_needed) return;
    if (const int e = run.progress.outError()) {
        if (e == EPIPE) stopRun(run, "the frame lines' output was closed", StopKind::OutputClosed);
        else stopRun(run, "cannot write the frame lines to " + run.lines_name + ": " + std::strerror(e), StopKind::Failure);
    }
}

// Waits `seconds`, or less when the run stops; false when it stopped.
bool pauseUnlessStopped(const RenderRun& run, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!stopRequested(run) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return !stopRequested(run);
}

// Presses Reconnect unless another frame did since `seen` presses.
void pressReconnectOnce(RenderRun& run, unsigned seen) {
    std::lock_guard<std::mutex> lock(run.reconnect_mutex);
    if (run.reconnects.load() != seen) return;
    try {
        pressReconnect(run.host, run.inst);
    } catch (const std::exception& e) {
        run.progress.error(std::string("tev-host: warning: ") + e.what());
    }
    ++run.reconnects;
}

// Renders frame k; a frame that met an outage is rendered again after
// pressing Reconnect, as the user would, --retries times at most with a
// pause that doubles. An outage that outlasts them stops the run.
FrameReport renderWithRetries(RenderRun& run, std::size_t k) {
    const FrameJob& job = run.frames[k];
    const auto start = std::chrono::steady_clock::now();
    double pause = run.options.retry_pause;
    for (int attempt = 0;; ++attempt) {
        const unsigned seen = run.reconnects.load();
        FrameReport report = renderOne(run, k);
        // The frame's time includes its retries and their pauses.
        report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (report.state != FrameState::Overlay || !report.outage || run.options.retries == 0) return report;
        const std::string frame = "frame " + std::to_string(job.number);
        if (attempt == run.options.retries) {
            stopRun(run, frame + " still shows \"" + report.detail + "\" after " + std::to_string(attempt) +
                             (attempt == 1 ? " retry" : " retries") + ": the server stays out of reach");
            return report;
        }
        std::ostringstream note;
        note << "tev-host: " << frame << " shows \"" << report.detail << "\": pressing Reconnect and rendering it again in "
             << pause << " s (retry " << attempt + 1 << " of " << run.options.retries << ")";
        run.progress.error(note.str());
        if (!pauseUnlessStopped(run, pause)) return report;
        pressReconnectOnce(run, seen);
        pause *= 2;
    }
}

// True when the output exists and is not marked as an overlay frame.
bool finishedEarlier(const std::string& output) {
    std::error_code ec;
    return fs::exists(output, ec) && readImageTag(output, kVerdictTag) != kOverlayVerdict;
}

// Renders frames until none is left, the run stops, or `limit` were
// rendered (skipped frames don't count).
void renderThread(RenderRun& run, unsigned slot, std::size_t limit = SIZE_MAX) {
    t_slot = static_cast<int>(slot);
    for (std::size_t rendered = 0; rendered < limit;) {
        if (stopRequested(run)) return;
        const std::size_t k = run.next++;
        if (k >= run.frames.size()) return;
        const FrameJob& job = run.frames[k];
        FrameReport report;
        if (run.options.skip_existing && finishedEarlier(job.output)) {
            report.state = FrameState::Skipped;
        } else {
            run.progress.started(slot, job.number);
            report = renderWithRetries(run, k);
            ++rendered;
        }
        {
            std::lock_guard<std::mutex> lock(run.state_mutex);
            run.states[k] = report.state;
        }
        if (report.state == FrameState::Failed && run.frames.size() == 1) {
            run.progress.error("tev-host: " + report.detail);
        }
        run.progress.finished(slot, frameLine(job, report));
        run.report.frame(k, report.seconds, report.state, report.detail);
        checkOutputs(run);
    }
}

std::string describeRun(const CliOptions& o, std::size_t frames, const ImageFile& first, unsigned threads) {
    std::ostringstream s;
    s << "rendering " << frames << (frames == 1 ? " frame" : " frames") << " of " << o.input << " at "
      << (o.depth ? o.depth : first.file_bits) << " bits";
    if (!o.depth && frames > 1) s << " (each file at its own depth)";
    if (o.downsample > 1) s << ", downsample 1/" << o.downsample;
    if (o.chunk.count) s << " (part " << o.chunk.index << " of " << o.chunk.count << ")";
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

// Where the frame lines go: standard output, or stderr when the records
// take standard output (--report -).
std::ostream& linesStream(const CliOptions& options, std::ostream& out, std::ostream& err) {
    return options.report_file == "-" ? err : out;
}

// Checks the frame lines written on standard output: a closed pipe exits as
// SIGPIPE would, another failure is named (2).
int checkLines(std::ostream& lines, const std::ostream& out, std::ostream& err) {
    if (&lines != &out) return kExitOk;
    const int e = writeErrorOf(lines.flush());
    if (e == 0) return kExitOk;
    if (e == EPIPE) return exitStatusForSignal(SIGPIPE);
    err << "tev-host: cannot write the frame lines to " << streamName(out) << ": " << std::strerror(e) << "\n";
    return kExitFailed;
}

// A --chunk part past the list's end: nothing to render, which is success.
// The report is still written (empty), so every part of a job leaves one.
int renderEmptyChunk(const CliOptions& options, std::size_t listed, std::ostream& out, std::ostream& err) {
    // An empty part still ends its report with the summary record, so that
    // a merge can tell it from a task that never finished.
    const std::string summary = summaryJsonLine(StateCounts{}, 0, kExitOk) + "\n";
    if (options.report_file == "-" && !options.dry_run) {
        out << summary;
    } else if (!options.report_file.empty() && !options.dry_run) {
        std::ofstream report(options.report_file, std::ios::trunc);
        report << summary;
        report.close();
        if (!report) throw HostError("cannot write the report '" + options.report_file + "': " + std::strerror(errno));
    }
    std::ostream& lines = linesStream(options, out, err);
    lines << "part " << options.chunk.index << " of " << options.chunk.count << " of " << options.input
          << " holds no frame (the list has " << listed << ")\n"
          << "total: 0 of 0 frames written\n";
    const int status = checkLines(lines, out, err);
    return status != kExitOk ? status : checkLines(out, out, err);
}

// --dry-run: the frames and where they go, nothing rendered.
int listDryRun(const std::vector<FrameJob>& frames, std::ostream& out, std::ostream& err) {
    for (const FrameJob& f : frames) out << "frame " << f.number << "  " << f.input << " -> " << f.output << "\n";
    return checkLines(out, out, err);
}

void warnAboutThreads(const CliOptions& options, std::ostream& err) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (options.threads > 4 * cores) {
        err << "tev-host: warning: --threads " << options.threads << " is more than 4 times the " << cores
            << " cores: every frame in flight holds its images in memory, and frames beyond what the machine "
               "renders at once only wait\n";
    }
}

// The frames of this part of the list (all of it without --chunk); a warning
// names frames of the asked range that the input lacks.
std::vector<FrameJob> framesOfPart(const CliOptions& options, std::ostream& err, std::size_t& listed) {
    const FrameRange range{options.first_frame, options.last_frame, options.frame_step};
    const std::vector<FrameJob> all = listFrames(options.input, options.output, range, options.frame, options.numbering);
    const std::string missing = describeMissingFrames(all, range);
    if (!missing.empty()) err << "tev-host: warning: " << missing << "\n";
    const auto [first, end] = chunkBounds(all.size(), options.chunk);
    listed = all.size();
    return {all.begin() + static_cast<std::ptrdiff_t>(first), all.begin() + static_cast<std::ptrdiff_t>(end)};
}

void removeTemporaries(const std::vector<FrameJob>& frames, std::ostream& err) {
    std::vector<std::string> outputs;
    for (const FrameJob& f : frames) outputs.push_back(f.output);
    const std::vector<std::string> removed = removeLeftTemporaries(outputs);
    if (removed.empty()) return;
    err << "tev-host: warning: removed " << removed.size() << " temporary file" << (removed.size() == 1 ? "" : "s")
        << " left by an interrupted run:";
    for (std::size_t i = 0; i < removed.size() && i < 10; ++i) err << (i ? ", " : " ") << removed[i];
    if (removed.size() > 10) err << " and " << removed.size() - 10 << " more";
    err << "\n";
}

// The --report of a run: a file, standard output (-), or none. The report
// ends with the summary record, and a report that could not be written is a
// failure of the run.
class ReportOutput {
public:
    ReportOutput(const CliOptions& options, std::ostream& out, const std::vector<FrameJob>& frames) {
        std::ostream* records = nullptr;
        if (options.report_file == "-") {
            records = &out;
            name_ = streamName(out);
        } else if (!options.report_file.empty()) {
            const int fd = open(options.report_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd < 0) {
                throw HostError("cannot write the report '" + options.report_file + "': " + std::strerror(errno));
            }
            name_ = "'" + options.report_file + "'";
            file_.emplace(fd, name_, true);
            records = &*file_;
        }
        report_.emplace(records, frames);
    }

    RunReport& report() { return *report_; }
    const std::string& name() const { return name_; }

    // Writes the summary record with `status` and closes the report; the
    // status, or the failure to write the report (named on `err`).
    int finish(int status, double seconds, std::ostream& err) {
        if (!report_) return status;
        // A failure before the summary record stopped the run and was named then.
        const bool named = report_->error() != 0;
        report_->finish(seconds, status);
        if (file_) file_->close();
        const int e = report_->error();
        report_.reset();
        if (e == 0 || named) return status;
        const bool ok = status == kExitOk || status == kExitOverlay;
        if (e == EPIPE) {
            err << "tev-host: stopped: the report's output (" << name_ << ") was closed\n";
            return ok ? exitStatusForSignal(SIGPIPE) : status;
        }
        err << "tev-host: cannot write the report to " << name_ << ": " << std::strerror(e) << "\n";
        return ok ? kExitFailed : status;
    }

private:
    std::optional<FdStream> file_;
    std::optional<RunReport> report_;
    std::string name_;
};

// The host with the plug-in loaded and one instance set up as the command
// line asks; the frames' progress goes to `*progress` while it is set.
struct PluginSession {
    HeadlessHost host;
    InstanceId inst;
    Progress* progress = nullptr;

    PluginSession(const CliOptions& options, const std::vector<FrameJob>& frames, std::ostream& lines)
        : host(hostOptions(options, frames, progress)) {
        host.load(pluginLoadPath(options.plugin));
        host.globalSetup().expectOk();
        host.paramsSetup().expectOk();
        inst = host.createInstance();
        for (const auto& [name, value] : options.set) setParamFromText(host, inst, name, value);
        if (options.reconnect) {
            pressReconnect(host, inst);
            lines << "pressed the Reconnect button\n";
        }
    }

private:
    static HostOptions hostOptions(const CliOptions& options, const std::vector<FrameJob>& frames,
                                   Progress*& progress) {
        HostOptions o = hostOptionsFor(options);
        int last_number = 0;
        for (const FrameJob& f : frames) last_number = std::max(last_number, f.number);
        o.total_time = (last_number + 1) * o.time_step;
        o.on_progress = [&progress](A_long current, A_long total) -> PF_Err {
            if (progress && t_slot >= 0) progress->report(static_cast<unsigned>(t_slot), current, total);
            return PF_Err_NONE;
        };
        return o;
    }
};

// What the render threads left.
struct RunResult {
    StateCounts counts;
    std::vector<std::string> stale;  // outputs that existed, not rewritten
    std::string stop_reason;
    bool lines_closed = false, failed_stop = false;
    double seconds = 0;
};

// Renders the frames on `threads` render threads, with the progress on
// `lines` (and `err`) and the records in `report`.
RunResult renderFrames(const CliOptions& options, const std::vector<FrameJob>& frames, PluginSession& session,
                       PluginLog& log, ImageFile first, unsigned threads, std::ostream& lines, std::ostream& err,
                       ReportOutput& report, ConsoleCapture* console) {
    using Clock = std::chrono::steady_clock;
    std::vector<char> existed(frames.size());
    for (std::size_t k = 0; k < frames.size(); ++k) {
        std::error_code ec;
        existed[k] = fs::exists(frames[k].output, ec);
    }
    const Clock::time_point start = Clock::now();
    RunResult result;
    Progress progress(lines, err, options.progress_bar, static_cast<int>(frames.size()), threads, options.columns);
    session.progress = &progress;
    // The plug-in's lines go above the bar while it is drawn; the guard puts
    // the earlier sink back before the bar goes.
    const SinkGuard sink_guard(console, [&progress](const std::string& l) { progress.error("plug-in: " + l); });
    const int first_width = first.world.width(), first_height = first.world.height();
    const int first_bits = first.file_bits;
    RenderRun run{options, frames, session.host, session.inst,
                  static_cast<float>(1) * (1.0f / static_cast<float>(options.downsample)),
                  log, progress, lines, &lines != &err, streamName(lines), report.report(), report.name(),
                  std::move(first), first_width, first_height, first_bits};
    run.states.assign(frames.size(), FrameState::NotStarted);
    StopSignals::setAbortTarget(&session.host);
    // An exception that escapes a render thread, or a thread that cannot
    // start, stops the run; it still ends with its summary.
    const auto guarded = [&run](unsigned slot, std::size_t limit) {
        try {
            renderThread(run, slot, limit);
        } catch (const std::exception& e) {
            stopRun(run, "render thread " + std::to_string(slot) + " failed: " + e.what(), StopKind::Failure);
        } catch (...) {
            stopRun(run, "render thread " + std::to_string(slot) + " failed", StopKind::Failure);
        }
    };
    // The first frame goes alone: it may have to start the server, and the
    // plug-in draws its "Can't connect" overlay, without sending, on every
    // frame that starts while a launch is under way.
    if (threads > 1) guarded(0, 1);
    std::vector<std::thread> workers;
    try {
        for (unsigned slot = 1; slot < threads; ++slot) workers.emplace_back([&guarded, slot] { guarded(slot, SIZE_MAX); });
    } catch (const std::exception& e) {
        stopRun(run, "cannot start render thread " + std::to_string(workers.size() + 1) + ": " + e.what(),
                StopKind::Failure);
    }
    guarded(0, SIZE_MAX);
    for (std::thread& w : workers) w.join();
    StopSignals::setAbortTarget(nullptr);
    session.progress = nullptr;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        result.counts.add(run.states[k]);
        if (existed[k] && !hasOutput(run.states[k])) {
            result.stale.push_back("frame " + std::to_string(frames[k].number) + " " + frames[k].output);
        }
    }
    result.stop_reason = run.stop_reason;
    result.lines_closed = run.lines_closed;
    result.failed_stop = run.write_failed;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

// The summary line, the outputs left from an earlier run and the plug-in's
// logged failures.
void writeSummary(std::ostream& summary, const RunResult& r, std::size_t frames, const PluginLog& log,
                  std::uint64_t log_start) {
    const std::size_t rendered = r.counts.written();
    summary << "total: " << rendered << " of " << frames << " frames written in " << std::fixed
            << std::setprecision(2) << r.seconds << " s";
    if (rendered > 0) summary << " (" << std::setprecision(1) << static_cast<double>(rendered) / r.seconds << " frames/s)";
    summary << ": " << countsText(r.counts, false) << "\n";
    if (!r.stale.empty()) {
        summary << "not rewritten, still from an earlier run: ";
        for (std::size_t i = 0; i < r.stale.size() && i < 10; ++i) summary << (i ? ", " : "") << r.stale[i];
        if (r.stale.size() > 10) summary << " and " << r.stale.size() - 10 << " more";
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
}

// Why the run stopped early, if it did.
void writeStop(const RunResult& r, int signal_number, std::ostream& err) {
    if (signal_number) {
        const std::size_t aborted = r.counts[FrameState::Aborted];
        err << "tev-host: stopped by SIG" << sigabbrev_np(signal_number);
        if (aborted) err << ": " << aborted << (aborted == 1 ? " frame in flight was" : " frames in flight were") << " aborted";
        err << "\n";
    } else if (!r.stop_reason.empty()) {
        err << "tev-host: stopped: " << r.stop_reason << "\n";
    }
}

// The run's exit status: a signal's, a closed output's, a failed write's,
// else the frames' (StateCounts::exitStatus).
int exitStatusOf(const RunResult& r, int signal_number, int lines_error) {
    if (signal_number) return exitStatusForSignal(signal_number);
    if (r.lines_closed || lines_error == EPIPE) return exitStatusForSignal(SIGPIPE);
    if (r.failed_stop || lines_error) return kExitFailed;
    return r.counts.exitStatus();
}

// Renders the listed frames through the plug-in: the report, the host, the
// threads, the summary; the run's exit status.
int renderListed(const CliOptions& options, const std::vector<FrameJob>& frames, ImageFile first, std::ostream& out,
                 std::ostream& err, ConsoleCapture* console, ReportOutput& report) {
    std::ostream& lines = linesStream(options, out, err);
    const bool lines_needed = &lines == &out;
    PluginSession session(options, frames, lines);
    PluginLog log(options.log_file.empty() ? defaultLogFile(options.plugin) : options.log_file);
    const std::uint64_t log_start = log.size();
    const std::string log_problem =
        hasReconnectButton(session.host) ? logProblem(log, defaultLogFile(options.plugin)) : std::string();
    if (!log_problem.empty()) {
        err << "tev-host: warning: " << log_problem
            << "; failure overlays are told from the frames, without their message\n";
    }
    const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(options.threads, frames.size()));
    lines << describeRun(options, frames.size(), first, threads) << "\n" << std::flush;
    const RunResult result =
        renderFrames(options, frames, session, log, std::move(first), threads, lines, err, report, console);

    // With the frame lines' output closed or failing, the summary goes to stderr.
    const bool lines_lost = result.lines_closed || (lines_needed && writeErrorOf(lines) != 0);
    std::ostream& summary = lines_lost ? err : lines;
    writeSummary(summary, result, frames.size(), log, log_start);
    const int signal_number = StopSignals::received();
    writeStop(result, signal_number, err);
    session.host.destroyInstance(session.inst);
    session.host.globalSetdown();
    if (options.books) {
        const std::vector<std::string> books = session.host.unbalanced();
        summary << (books.empty() ? "books: balanced\n" : "books: unbalanced\n");
        for (const std::string& line : books) summary << "  " << line << "\n";
    }
    summary << std::flush;
    // The summary's own write failing (the run's lines were fine until then).
    const int lines_error = lines_needed && !lines_lost ? writeErrorOf(lines) : 0;
    if (lines_error && lines_error != EPIPE) {
        err << "tev-host: cannot write the frame lines to " << streamName(lines) << ": "
            << std::strerror(lines_error) << "\n";
    }
    return exitStatusOf(result, signal_number, lines_error);
}

}  // namespace

int renderImage(const CliOptions& options, std::ostream& out, std::ostream& err, ConsoleCapture* console) {
    using Clock = std::chrono::steady_clock;
    StopSignals signals;
    const Clock::time_point run_start = Clock::now();
    std::vector<FrameJob> frames;
    std::optional<ReportOutput> report;
    const auto finish = [&](int status) {
        const double seconds = std::chrono::duration<double>(Clock::now() - run_start).count();
        return report ? report->finish(status, seconds, err) : status;
    };
    try {
        std::size_t listed = 0;
        frames = framesOfPart(options, err, listed);
        if (frames.empty()) return renderEmptyChunk(options, listed, out, err);
        // The first image is read and the output folders are tried before the
        // plug-in loads: a bad file or folder ends the run before any server
        // is started.
        ImageFile first = readImage(frames.front().input, options.layer);
        checkOutputFolders(frames);
        if (options.dry_run) return listDryRun(frames, out, err);
        warnAboutThreads(options, err);
        removeTemporaries(frames, err);
        report.emplace(options, out, frames);
        return finish(renderListed(options, frames, std::move(first), out, err, console, *report));
    } catch (const std::exception& e) {
        StopSignals::setAbortTarget(nullptr);
        err << "tev-host: " << e.what() << "\n";
        const int signal_number = StopSignals::received();
        return finish(signal_number ? exitStatusForSignal(signal_number) : kExitFailed);
    }
}

}  // namespace TEV::Host::Cli
