// The machine-readable report of a render (--report): JSON Lines, one record
// per frame the run was asked for, then one summary record, for pipelines
// that read the run frame by frame and for tools that merge the reports of
// several runs. Strings follow the convention of JsonText.h: a name's bytes
// that are not UTF-8 are written as \u00XX and read back as those bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "JsonText.h"
#include "report/FrameState.h"

namespace TEV::Host::Cli {

struct FrameRecord {
    int frame = 0;
    std::string input, output;
    double seconds = 0;
    // The verdict: a FrameState's name; a report may hold other names, which
    // count as failed.
    std::string verdict;
    std::string message;  // the overlay's text or the failure's reason; "" for none
    // When the record was made: wall-clock microseconds since 1970 (0: not
    // known, a report written before records carried it), and the record's
    // place among those its process made, for records of the same microsecond.
    std::int64_t made_us = 0;
    std::uint64_t sequence = 0;

    FrameState state() const { return stateNamed(verdict).value_or(FrameState::Failed); }
};

// {"frame":7,"input":"...","output":"...","seconds":0.25,"verdict":"processed","message":"",
//  "made_us":1796000000000000,"sequence":3} without a line feed; the last two only when made_us is known.
std::string toJsonLine(const FrameRecord& record);

// The frame record that `object` holds: nothing for one without an integer
// "frame" or a string "verdict". Fields a record lacks keep their defaults.
std::optional<FrameRecord> frameRecordOf(const JsonText::Json& object);

// The last record: how many frames had each verdict (and were missing), the
// run's wall time and the process's exit status:
// {"summary":{"frames":6,"processed":4,...,"not_started":0,"missing":0,"seconds":1.5,"exit_status":0}}
std::string summaryJsonLine(const StateCounts& counts, double seconds, int exit_status);

}  // namespace TEV::Host::Cli
