// The machine-readable report of a render (--report): JSON Lines, one record
// per frame the run was asked for, then one summary record, for pipelines
// that read the run frame by frame and for tools that merge the reports of
// several runs.
#pragma once

#include <string>

namespace TEV::Host::Cli {

struct FrameRecord {
    int frame = 0;
    std::string input, output;
    double seconds = 0;
    // processed, unchanged, overlay, failed, aborted, skipped, not started
    std::string verdict;
    std::string message;  // the overlay's text or the failure's reason; "" for none
};

// The last record: how many frames had each verdict, the run's wall time and
// the process's exit status.
struct RunSummary {
    int frames = 0;
    int processed = 0, unchanged = 0, overlay = 0, failed = 0, aborted = 0, skipped = 0, not_started = 0;
    double seconds = 0;
    int exit_status = 0;
};

// {"frame":7,"input":"...","output":"...","seconds":0.25,"verdict":"processed","message":""}
// without a line feed; strings escaped as jsonString() does.
std::string toJsonLine(const FrameRecord& record);

// {"summary":{"frames":6,"processed":4,...,"not_started":0,"seconds":1.5,"exit_status":0}}
std::string toJsonLine(const RunSummary& summary);

// `text` as a JSON string literal, quotes included, always valid UTF-8: valid
// UTF-8 passes as it is, control characters are escaped, and every byte that
// is not part of a valid UTF-8 sequence is written as \u00XX, the character
// of that byte's value in Latin-1 (a file name's byte 0xE9 becomes "\u00e9").
std::string jsonString(const std::string& text);

}  // namespace TEV::Host::Cli
