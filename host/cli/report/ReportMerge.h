// One verdict for a render split into parts (--chunk): the parts' --report
// files merged into one record per frame, checked against the frames
// expected.
//
// Which record of a frame decides (a frame is reported again by a resumed or
// resubmitted job, and a cancelled task may still be writing):
//   1. A record of a frame whose output exists (processed, unchanged,
//      overlay, skipped) outranks one of a frame without output (failed,
//      aborted, not started), whenever either was made: outputs are only
//      ever replaced whole, so once written a frame stays written, and a
//      late "aborted" from a cancelled task does not undo the
//      resubmission's "processed".
//   2. Between records of the same rank, the one made later decides, by the
//      time and sequence each record carries. Records without them (reports
//      of older versions) count as made before every record that has them,
//      and among themselves the one read later decides.
//   3. A "not started" record never replaces another record, and any other
//      record replaces it.
// The order of the files and their modification times play no part, except
// between records without times.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "frames/FrameList.h"
#include "report/FrameRecord.h"

namespace TEV::Host::Cli {

// The report files named on a command line, in order; a folder stands for its
// *.jsonl files, oldest first (then by name). The order decides only between
// records without times. HostError for a name that is neither.
std::vector<std::string> reportFiles(const std::vector<std::string>& names);

struct MergedReports {
    std::map<int, FrameRecord> frames;  // the deciding record of each frame reported
    std::set<int> missing;              // expected, but named by no report
    std::size_t records = 0;            // frame records read
    std::vector<std::string> warnings;  // lines left out, unknown verdicts, and why
};

// True when `candidate`, read after `current`, decides the frame instead of it
// (the rules above).
bool decidesInstead(const FrameRecord& candidate, const FrameRecord& current);

// Reads the records of `files` in order and keeps the deciding record of
// each frame. Summary lines ({"summary":...}) are left out; so are lines that
// are not whole records (a task stopped while writing), each with a warning.
// Only frames in `range` count; `expected` adds frames that must be reported
// (it may be empty). HostError for a file that cannot be read.
MergedReports mergeReports(const std::vector<std::string>& files, const FrameRange& range,
                           const std::set<int>& expected);

// The frame counts of a merge (unknown verdicts count as failed); their
// exitStatus() is the render's.
StateCounts countMerged(const MergedReports& merged);

// Frame numbers as ranges: "3-5, 9, 12-13".
std::string numberRanges(const std::set<int>& numbers);

}  // namespace TEV::Host::Cli
