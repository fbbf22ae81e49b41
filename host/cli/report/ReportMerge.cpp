#include "report/ReportMerge.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

#include "JsonText.h"
#include "tevhost/HostError.h"

namespace fs = std::filesystem;

namespace TEV::Host::Cli {

namespace {

bool inRange(int n, const FrameRange& range) {
    if (range.first < 0) return true;
    return n >= range.first && n <= range.last && (n - range.first) % std::max(1, range.step) == 0;
}

}  // namespace

std::vector<std::string> reportFiles(const std::vector<std::string>& names) {
    std::vector<std::string> files;
    for (const std::string& name : names) {
        std::error_code ec;
        if (fs::is_directory(name, ec)) {
            std::vector<std::pair<fs::file_time_type, std::string>> found;
            for (const fs::directory_entry& e : fs::directory_iterator(name, ec)) {
                const std::string file = e.path().filename().string();
                if (e.is_regular_file() && file.size() > 6 && file.rfind('.', 0) != 0 &&
                    file.compare(file.size() - 6, 6, ".jsonl") == 0) {
                    found.emplace_back(e.last_write_time(), e.path().string());
                }
            }
            if (ec) throw HostError("cannot list the report folder '" + name + "': " + ec.message());
            std::sort(found.begin(), found.end());
            for (auto& f : found) files.push_back(std::move(f.second));
        } else if (fs::is_regular_file(name, ec)) {
            files.push_back(name);
        } else {
            throw HostError("report '" + name + "' is neither a file nor a folder");
        }
    }
    return files;
}

bool decidesInstead(const FrameRecord& candidate, const FrameRecord& current) {
    if (candidate.verdict == stateName(FrameState::NotStarted)) return false;
    if (current.verdict == stateName(FrameState::NotStarted)) return true;
    const bool candidate_output = hasOutput(candidate.state()), current_output = hasOutput(current.state());
    if (candidate_output != current_output) return candidate_output;
    return std::tie(candidate.made_us, candidate.sequence) >= std::tie(current.made_us, current.sequence);
}

MergedReports mergeReports(const std::vector<std::string>& files, const FrameRange& range,
                           const std::set<int>& expected) {
    MergedReports merged;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) throw HostError("cannot read the report '" + file + "'");
        std::string line;
        for (std::size_t number = 1; std::getline(in, line); ++number) {
            if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
            const std::string where = file + " line " + std::to_string(number);
            const std::optional<JsonText::Json> value = JsonText::parse(line);
            if (!value || !value->is_object()) {
                merged.warnings.push_back(where + " is not a whole JSON record" +
                                          (in.eof() ? " (the task stopped while writing it?)" : "") + ": left out");
                continue;
            }
            if (value->contains("summary")) continue;
            std::optional<FrameRecord> record = frameRecordOf(*value);
            if (!record) {
                merged.warnings.push_back(where + " has no frame number or verdict: left out");
                continue;
            }
            if (!inRange(record->frame, range)) continue;
            ++merged.records;
            if (!stateNamed(record->verdict)) {
                merged.warnings.push_back(where + ": unknown verdict '" + record->verdict + "', counted as failed");
            }
            const auto earlier = merged.frames.find(record->frame);
            if (earlier == merged.frames.end()) {
                merged.frames.emplace(record->frame, std::move(*record));
            } else if (decidesInstead(*record, earlier->second)) {
                earlier->second = std::move(*record);
            }
        }
        if (in.bad()) throw HostError("cannot read the report '" + file + "'");
    }
    for (int n : expected) {
        if (inRange(n, range) && !merged.frames.count(n)) merged.missing.insert(n);
    }
    return merged;
}

StateCounts countMerged(const MergedReports& merged) {
    StateCounts c;
    for (const auto& [number, record] : merged.frames) c.add(record.state());
    c.missing = merged.missing.size();
    return c;
}

std::string numberRanges(const std::set<int>& numbers) {
    std::string out;
    for (auto it = numbers.begin(); it != numbers.end();) {
        const int first = *it;
        int last = first;
        for (++it; it != numbers.end() && *it == last + 1; ++it) last = *it;
        if (!out.empty()) out += ", ";
        out += std::to_string(first);
        if (last != first) out += "-" + std::to_string(last);
    }
    return out;
}

}  // namespace TEV::Host::Cli
