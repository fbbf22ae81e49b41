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

// The number of a frame file: the last group of digits in its name before the
// extension ("clip_0007.png" 7, "a2_b10.exr" 10); none when it has no digits
// there or more than nine.
std::optional<int> numberInFileName(const std::string& file_name);

// --frames: numbers from `first` to `last` (both -1: all), every `step`-th from `first`.
struct FrameRange {
    int first = -1;
    int last = -1;
    int step = 1;
};

// How the files of a directory are numbered.
enum class Numbering {
    FromNames,    // each file's numberInFileName(); two files with one number are refused
    ByNameOrder,  // 0, 1, 2, ... in name order (--number-by-name)
};

struct FrameJob {
    int number = 0;      // the frame's number, also its time in frames
    std::string input;   // image file to read
    std::string output;  // image file to write
};

// Expands --in and --out into frames, ordered by number. One numbering rule
// for every kind of input: a file's frame number is numberInFileName(); a
// single file without one is frame `single_number` (when not negative, it
// also overrides the name's number), else 0; a directory whose image files
// have no numbers at all, or whose numbering is Numbering::ByNameOrder, is
// numbered by name order from 0. Hidden files (names starting with '.') are
// left out of directories and patterns. Output folders are created.
// HostError for a missing input, a pattern or directory with no image, a
// directory where two files have one number (both named) or where some files
// have a number and others none, no frame in `range`, an output that cannot
// name several frames, or an output that would overwrite its own input.
std::vector<FrameJob> listFrames(const std::string& input, const std::string& output, const FrameRange& range,
                                 int single_number, Numbering numbering = Numbering::FromNames);

// The numbers that `range` asks for and no frame of `frames` (as listFrames
// returns them) has, up to the range's end (an open range: the last frame),
// as a one-line warning: "--frames 7-12: no file for 1 frame: 9"; "" when
// none is missing or no range was given.
std::string describeMissingFrames(const std::vector<FrameJob>& frames, const FrameRange& range);
// The input's frames alone (outputs left empty, no folder created), numbered
// and limited to `range` as listFrames() does them.
std::vector<FrameJob> listInputFrames(const std::string& input, const FrameRange& range, int single_number,
                                      Numbering numbering = Numbering::FromNames);
// The same with the range from `first` to `last` (-1: all).
std::vector<FrameJob> listFrames(const std::string& input, const std::string& output, int first, int last,
                                 int single_number);

}  // namespace TEV::Host::Cli
