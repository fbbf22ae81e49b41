// The frames of a render: which file goes in, which comes out, at what number.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace TEV::Host::Cli {

// A file name with one printf-style number: "%d", "%4d" or "%04d" ("%%" is a
// literal percent sign), in the file name only, not in its folder.
class NumberPattern {
public:
    // An empty optional when `path` holds no conversion; std::invalid_argument
    // for a malformed or second conversion.
    static std::optional<NumberPattern> parse(const std::string& path);

    // The path for frame `number`.
    std::string format(int number) const;
    // The number whose format() is exactly `file_name` (no folder), if any.
    std::optional<int> match(const std::string& file_name) const;
    std::string folder() const { return folder_; }

private:
    std::string folder_;  // "" for the current directory
    std::string prefix_, suffix_;
    int width_ = 0;
    bool zero_pad_ = false;
};

struct FrameJob {
    int number = 0;      // the frame's number, also its time in frames
    std::string input;   // image file to read
    std::string output;  // image file to write
};

// Expands --in and --out into frames, ordered by number (directories: by name,
// numbered from 0). `first`/`last` bound the numbers when not negative;
// `single_number` is the number of a lone input file. Output folders are
// created. HostError for a missing input, a pattern or directory with no
// image, an output that cannot name several frames, or an output that would
// overwrite its own input.
std::vector<FrameJob> listFrames(const std::string& input, const std::string& output, int first, int last,
                                 int single_number);

}  // namespace TEV::Host::Cli
