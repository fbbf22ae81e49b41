// The machine-readable record of one rendered frame (--report): a JSON object
// on one line, for pipelines that read the run frame by frame.
#pragma once

#include <string>

namespace TEV::Host::Cli {

struct FrameRecord {
    int frame = 0;
    std::string input, output;
    double seconds = 0;
    std::string verdict;  // processed, unchanged, overlay, failed, aborted, skipped
    std::string message;  // the overlay's text or the failure's reason; "" for none
};

// {"frame":7,"input":"...","output":"...","seconds":0.25,"verdict":"processed","message":""}
// without a line feed; strings escaped as JSON requires.
std::string toJsonLine(const FrameRecord& record);

// `text` as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);

}  // namespace TEV::Host::Cli
