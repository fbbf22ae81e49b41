// One verdict for a render split into parts (--chunk): the parts' --report
// files merged into one record per frame, checked against the frames
// expected.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "frames/FrameList.h"
#include "run/FrameRecord.h"

namespace TEV::Host::Cli {

// The report files named on a command line, in order; a folder stands for its
// *.jsonl files, oldest first (then by name), so that a resumed run's reports
// come after the stopped run's. HostError for a name that is neither.
std::vector<std::string> reportFiles(const std::vector<std::string>& names);

struct MergedReports {
    std::map<int, FrameRecord> frames;  // the deciding record of each frame reported
    std::set<int> missing;              // expected, but named by no report
    std::size_t records = 0;            // frame records read
    std::vector<std::string> warnings;  // lines left out, and why
};

// Reads the records of `files` in order: a later record of a frame replaces
// an earlier one, except a "not started" record, which replaces none. Summary
// lines ({"summary":...}) are left out; so are lines that are not whole
// records (a task stopped while writing), each with a warning. Only frames in
// `range` count; `expected` adds frames that must be reported (it may be
// empty). HostError for a file that cannot be read.
MergedReports mergeReports(const std::vector<std::string>& files, const FrameRange& range,
                           const std::set<int>& expected);

// The frame counts of a merge, by verdict, and the render's exit status rules:
// 0 every frame written or skipped, 2 a frame failed, aborted, not started or
// missing, 3 every frame written but some show the failure overlay.
struct MergeCounts {
    std::map<std::string, std::size_t> by_verdict;  // processed, unchanged, overlay, failed, aborted, skipped,
                                                    // not started; other verdicts count as failed
    std::size_t missing = 0;
    double seconds = 0;        // render time of the frames that ran (not skipped, not started)
    std::size_t rendered = 0;  // frames that ran
    int exit_status = 0;
};
MergeCounts countMerged(const MergedReports& merged);

// Frame numbers as ranges: "3-5, 9, 12-13".
std::string numberRanges(const std::set<int>& numbers);

}  // namespace TEV::Host::Cli
