// The --report of one render: a record for every frame the run was asked
// for, in the order they finish, then a "not started" record for each frame
// the run never reached, then the summary record (FrameRecord.h). Each record
// carries when it was made, so that a merge orders them whatever became of
// the files' times.
#pragma once

#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "frames/FrameList.h"
#include "report/FrameRecord.h"

namespace TEV::Host::Cli {

class RunReport {
public:
    // `stream`: where the records go, flushed after each; null: no report.
    RunReport(std::ostream* stream, const std::vector<FrameJob>& frames);

    // Writes the record of frame `k` (an index into the frames). Thread-safe;
    // a frame's second record is ignored.
    void frame(std::size_t k, double seconds, FrameState state, const std::string& message);
    // Records every frame still without a record as "not started", then the
    // summary with the counts of all records, `seconds` and `exit_status`.
    void finish(double seconds, int exit_status);

    bool enabled() const { return stream_ != nullptr; }
    // The errno of the first failed write (EPIPE for a closed output), 0 while none failed.
    int error() const;

private:
    void write(const std::string& line);  // holds mutex_

    std::ostream* stream_;
    const std::vector<FrameJob>& frames_;
    mutable std::mutex mutex_;
    std::vector<char> recorded_;
    StateCounts counts_;
};

}  // namespace TEV::Host::Cli
