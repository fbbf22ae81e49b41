#include "run/RunReport.h"

#include "run/FdStream.h"

namespace TEV::Host::Cli {

namespace {

void count(RunSummary& s, const std::string& verdict) {
    ++s.frames;
    int* const counter = verdict == "processed"     ? &s.processed
                         : verdict == "unchanged"   ? &s.unchanged
                         : verdict == "overlay"     ? &s.overlay
                         : verdict == "aborted"     ? &s.aborted
                         : verdict == "skipped"     ? &s.skipped
                         : verdict == "not started" ? &s.not_started
                                                    : &s.failed;
    ++*counter;
}

}  // namespace

RunReport::RunReport(std::ostream* stream, const std::vector<FrameJob>& frames)
    : stream_(stream), frames_(frames), recorded_(frames.size(), 0) {}

void RunReport::write(const std::string& line) {
    if (stream_) *stream_ << line << "\n" << std::flush;
}

void RunReport::frame(std::size_t k, double seconds, const std::string& verdict, const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (k >= recorded_.size() || recorded_[k]) return;
    recorded_[k] = 1;
    count(counts_, verdict);
    const FrameJob& job = frames_[k];
    write(toJsonLine(FrameRecord{job.number, job.input, job.output, seconds, verdict, message}));
}

void RunReport::finish(double seconds, int exit_status) {
    for (std::size_t k = 0; k < frames_.size(); ++k) frame(k, 0, "not started", "");
    std::lock_guard<std::mutex> lock(mutex_);
    RunSummary summary = counts_;
    summary.seconds = seconds;
    summary.exit_status = exit_status;
    write(toJsonLine(summary));
}

RunSummary RunReport::counts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

int RunReport::error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream_ ? writeErrorOf(*stream_) : 0;
}

}  // namespace TEV::Host::Cli
