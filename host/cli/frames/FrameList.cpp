#include "frames/FrameList.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "files/ImageFiles.h"
#include "tevhost/HostError.h"

namespace fs = std::filesystem;

namespace TEV::Host::Cli {

namespace {

std::string unescapePercent(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
    }
    return out;
}

bool isDirectoryName(const std::string& path) {
    std::error_code ec;
    return (!path.empty() && path.back() == '/') || fs::is_directory(path, ec);
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    const fs::path pa = fs::weakly_canonical(a, ec1);
    const fs::path pb = fs::weakly_canonical(b, ec2);
    return !ec1 && !ec2 && pa == pb;
}

bool isHidden(const fs::path& path) { return path.filename().string().rfind('.', 0) == 0; }

std::vector<FrameJob> inputFrames(const std::string& input, int single_number, Numbering numbering) {
    std::vector<FrameJob> frames;
    std::error_code ec;
    if (std::optional<NumberPattern> pattern = NumberPattern::parse(input)) {
        const std::string folder = pattern->folder().empty() ? "." : pattern->folder();
        if (!fs::is_directory(folder, ec)) {
            throw HostError("input folder '" + folder + "' of '" + input + "' does not exist");
        }
        // A pattern that itself names hidden files ("._%04d.png") matches them.
        const bool hidden_pattern = isHidden(fs::path(pattern->format(0)));
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            if (isHidden(entry.path()) && !hidden_pattern) continue;
            if (std::optional<int> n = pattern->match(entry.path().filename().string())) {
                frames.push_back(FrameJob{*n, pattern->format(*n), ""});
            }
        }
        if (frames.empty()) {
            throw HostError("no file matches '" + input + "'");
        }
        std::sort(frames.begin(), frames.end(), [](const FrameJob& a, const FrameJob& b) { return a.number < b.number; });
    } else if (fs::is_directory(input, ec)) {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(input)) {
            if (entry.is_regular_file() && isImageFileName(entry.path().string()) && !isHidden(entry.path())) {
                names.push_back(entry.path().string());
            }
        }
        if (names.empty()) {
            throw HostError("input directory '" + input + "' holds no .png or .exr file");
        }
        std::sort(names.begin(), names.end());
        std::vector<std::optional<int>> numbers;
        for (const std::string& name : names) numbers.push_back(numberInFileName(fs::path(name).filename().string()));
        const auto unnumbered = std::find(numbers.begin(), numbers.end(), std::nullopt);
        const bool none_numbered = std::count(numbers.begin(), numbers.end(), std::nullopt) ==
                                   static_cast<std::ptrdiff_t>(numbers.size());
        const bool by_name = numbering == Numbering::ByNameOrder || none_numbered;
        if (!by_name && unnumbered != numbers.end()) {
            throw HostError("'" + names[static_cast<std::size_t>(unnumbered - numbers.begin())] +
                            "' has no frame number, unlike the other files of '" + input +
                            "' (--number-by-name numbers them all by name order from 0)");
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            frames.push_back(FrameJob{by_name ? static_cast<int>(i) : *numbers[i], names[i], ""});
        }
        // A stable sort keeps name order among equal numbers, so the pair
        // found below is named in name order.
        std::stable_sort(frames.begin(), frames.end(),
                         [](const FrameJob& a, const FrameJob& b) { return a.number < b.number; });
        const auto twin = std::adjacent_find(frames.begin(), frames.end(),
                                             [](const FrameJob& a, const FrameJob& b) { return a.number == b.number; });
        if (twin != frames.end()) {
            throw HostError("'" + twin->input + "' and '" + (twin + 1)->input + "' both have frame number " +
                            std::to_string(twin->number) +
                            " (--number-by-name numbers the files by name order from 0)");
        }
    } else {
        if (!fs::exists(input, ec)) {
            throw HostError("input '" + input + "' does not exist");
        }
        imageFormatOf(input);
        const std::optional<int> n = numberInFileName(fs::path(input).filename().string());
        frames.push_back(FrameJob{single_number >= 0 ? single_number : n.value_or(0), input, ""});
    }
    return frames;
}

}  // namespace

std::optional<NumberPattern> NumberPattern::parse(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    NumberPattern p;
    p.folder_ = path.substr(0, name_start);
    bool found = false;
    std::size_t conversion_start = 0, conversion_end = 0;
    for (std::size_t i = name_start; i < path.size(); ++i) {
        if (path[i] != '%') continue;
        if (i + 1 < path.size() && path[i + 1] == '%') {
            ++i;
            continue;
        }
        if (found) {
            throw std::invalid_argument("'" + path + "' has more than one number conversion");
        }
        std::size_t j = i + 1;
        p.zero_pad_ = j < path.size() && path[j] == '0';
        while (j < path.size() && std::isdigit(static_cast<unsigned char>(path[j]))) ++j;
        if (j >= path.size() || path[j] != 'd') {
            throw std::invalid_argument("'" + path + "' has a '%' that is not %d, %Nd or %0Nd (write %% for '%')");
        }
        const std::string width = path.substr(i + 1, j - i - 1);
        p.width_ = width.empty() ? 0 : std::stoi(width);
        if (p.width_ > 12) {
            throw std::invalid_argument("'" + path + "' pads its number to more than 12 digits");
        }
        found = true;
        conversion_start = i;
        conversion_end = j + 1;
    }
    if (!found) {
        return std::nullopt;
    }
    p.prefix_ = unescapePercent(path.substr(name_start, conversion_start - name_start));
    p.suffix_ = unescapePercent(path.substr(conversion_end));
    return p;
}

std::string NumberPattern::format(int number) const {
    char digits[32];
    std::snprintf(digits, sizeof digits, zero_pad_ ? "%0*d" : "%*d", width_, number);
    return folder_ + prefix_ + digits + suffix_;
}

std::optional<int> NumberPattern::match(const std::string& file_name) const {
    if (file_name.size() <= prefix_.size() + suffix_.size() || file_name.compare(0, prefix_.size(), prefix_) != 0 ||
        file_name.compare(file_name.size() - suffix_.size(), suffix_.size(), suffix_) != 0) {
        return std::nullopt;
    }
    std::string middle = file_name.substr(prefix_.size(), file_name.size() - prefix_.size() - suffix_.size());
    std::size_t start = middle.find_first_not_of(' ');
    if (start == std::string::npos || middle.size() - start > 9 ||
        !std::all_of(middle.begin() + start, middle.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return std::nullopt;
    }
    const int number = std::stoi(middle.substr(start));
    // Only the exact spelling: frame_7.png is no frame of frame_%04d.png.
    if (format(number) != folder_ + file_name) return std::nullopt;
    return number;
}

std::optional<int> numberInFileName(const std::string& file_name) {
    const std::string stem = fs::path(file_name).stem().string();
    std::size_t end = stem.size();
    while (end > 0 && !std::isdigit(static_cast<unsigned char>(stem[end - 1]))) --end;
    std::size_t start = end;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(stem[start - 1]))) --start;
    if (start == end || end - start > 9) return std::nullopt;
    return std::stoi(stem.substr(start, end - start));
}

std::vector<FrameJob> listFrames(const std::string& input, const std::string& output, int first, int last,
                                 int single_number) {
    return listFrames(input, output, FrameRange{first, last, 1}, single_number);
}

std::vector<FrameJob> listInputFrames(const std::string& input, const FrameRange& range, int single_number,
                                      Numbering numbering) {
    std::vector<FrameJob> frames = inputFrames(input, single_number, numbering);
    if (range.first >= 0) {
        const int step = std::max(1, range.step);
        frames.erase(std::remove_if(frames.begin(), frames.end(),
                                    [&](const FrameJob& f) {
                                        return f.number < range.first || f.number > range.last ||
                                               (f.number - range.first) % step != 0;
                                    }),
                     frames.end());
        if (frames.empty()) {
            std::string wanted = std::to_string(range.first) + " to " +
                                 (range.last == INT_MAX ? std::string("the end") : std::to_string(range.last));
            if (step > 1) wanted += " in steps of " + std::to_string(step);
            throw HostError("no frame of '" + input + "' is numbered " + wanted);
        }
    }
    return frames;
}

std::vector<FrameJob> listFrames(const std::string& input, const std::string& output, const FrameRange& range,
                                 int single_number, Numbering numbering) {
    std::vector<FrameJob> frames = listInputFrames(input, range, single_number, numbering);

    std::optional<NumberPattern> out_pattern = NumberPattern::parse(output);
    const bool out_directory = !out_pattern && isDirectoryName(output);
    if (!out_pattern && !out_directory && frames.size() > 1) {
        throw HostError("the " + std::to_string(frames.size()) + " frames of '" + input +
                        "' need an output pattern (such as out_%04d.png) or an output directory, not '" + output +
                        "'");
    }
    for (FrameJob& f : frames) {
        if (out_pattern) {
            f.output = out_pattern->format(f.number);
        } else if (out_directory) {
            f.output = (fs::path(output) / fs::path(f.input).filename()).string();
        } else {
            f.output = output;
        }
        imageFormatOf(f.output);
        if (sameFile(f.input, f.output)) {
            throw HostError("output '" + f.output + "' would overwrite its input");
        }
    }
    for (const FrameJob& f : frames) {
        const fs::path folder = fs::path(f.output).parent_path();
        std::error_code ec;
        if (!folder.empty() && !fs::is_directory(folder, ec) && !fs::create_directories(folder, ec) && ec) {
            throw HostError("cannot create output folder '" + folder.string() + "': " + ec.message());
        }
    }
    return frames;
}

std::string describeMissingFrames(const std::vector<FrameJob>& frames, const FrameRange& range) {
    if (range.first < 0 || frames.empty()) return "";
    const long long step = std::max(1, range.step);
    const long long end = range.last == INT_MAX ? frames.back().number : range.last;
    // Runs of missing numbers on the range's grid, from the gaps between frames.
    std::vector<std::pair<long long, long long>> runs;
    long long missing = 0;
    long long expected = range.first;
    const auto gapUpTo = [&](long long last) {  // the grid numbers from `expected` to `last`
        if (last < expected) return;
        runs.emplace_back(expected, last);
        missing += (last - expected) / step + 1;
    };
    for (const FrameJob& f : frames) {
        gapUpTo(static_cast<long long>(f.number) - step);
        expected = static_cast<long long>(f.number) + step;
    }
    if (expected <= end) gapUpTo(expected + (end - expected) / step * step);
    if (missing == 0) return "";
    std::string asked = std::to_string(range.first);
    if (range.last != range.first) asked += "-" + (range.last == INT_MAX ? "" : std::to_string(range.last));
    if (step > 1) asked += "x" + std::to_string(step);
    std::string text = "--frames " + asked + ": no file for " + std::to_string(missing) +
                       (missing == 1 ? " frame: " : " frames: ");
    constexpr std::size_t kListed = 10;
    for (std::size_t i = 0; i < runs.size() && i < kListed; ++i) {
        text += (i ? ", " : "") + std::to_string(runs[i].first);
        if (runs[i].second != runs[i].first) text += "-" + std::to_string(runs[i].second);
    }
    if (runs.size() > kListed) text += " and " + std::to_string(runs.size() - kListed) + " more gaps";
    return text;
}

}  // namespace TEV::Host::Cli
