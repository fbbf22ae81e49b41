#include "report/RunReport.h"

#include <atomic>
#include <chrono>

#include "run/FdStream.h"

namespace TEV::Host::Cli {

namespace {

// The records this process has made, for records of the same microsecond.
std::atomic<std::uint64_t> g_records{0};

std::int64_t nowMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

RunReport::RunReport(std::ostream* stream, const std::vector<FrameJob>& frames)
    : stream_(stream), frames_(frames), recorded_(frames.size(), 0) {}

void RunReport::write(const std::string& line) {
    if (stream_) *stream_ << line << "\n" << std::flush;
}

void RunReport::frame(std::size_t k, double seconds, FrameState state, const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (k >= recorded_.size() || recorded_[k]) return;
    recorded_[k] = 1;
    counts_.add(state);
    const FrameJob& job = frames_[k];
    write(toJsonLine(FrameRecord{job.number, job.input, job.output, seconds, stateName(state), message,
                                 nowMicroseconds(), ++g_records}));
}

void RunReport::finish(double seconds, int exit_status) {
    for (std::size_t k = 0; k < frames_.size(); ++k) frame(k, 0, FrameState::NotStarted, "");
    std::lock_guard<std::mutex> lock(mutex_);
    write(summaryJsonLine(counts_, seconds, exit_status));
}

int RunReport::error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream_ ? writeErrorOf(*stream_) : 0;
}

}  // namespace TEV::Host::Cli
