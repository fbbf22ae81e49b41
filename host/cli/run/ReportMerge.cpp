#include "run/ReportMerge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>

#include "command/Commands.h"
#include "run/JsonValue.h"
#include "tevhost/HostError.h"

namespace fs = std::filesystem;

namespace TEV::Host::Cli {

namespace {

const char* const kVerdicts[] = {"processed", "unchanged", "overlay", "failed", "aborted", "skipped", "not started"};

bool knownVerdict(const std::string& v) {
    return std::find(std::begin(kVerdicts), std::end(kVerdicts), v) != std::end(kVerdicts);
}

bool inRange(int n, const FrameRange& range) {
    if (range.first < 0) return true;
    return n >= range.first && n <= range.last && (n - range.first) % std::max(1, range.step) == 0;
}

std::string text(const JsonValue& object, const char* key) {
    const JsonValue* v = object.find(key);
    return v && v->kind == JsonValue::Kind::String ? v->text : std::string();
}

// A frame record, or nothing for a line that is not one.
std::optional<FrameRecord> frameRecord(const JsonValue& object) {
    const JsonValue* frame = object.find("frame");
    const JsonValue* verdict = object.find("verdict");
    if (!frame || frame->kind != JsonValue::Kind::Number || !verdict || verdict->kind != JsonValue::Kind::String ||
        frame->number != std::floor(frame->number) || frame->number < INT32_MIN || frame->number > INT32_MAX) {
        return std::nullopt;
    }
    FrameRecord r;
    r.frame = static_cast<int>(frame->number);
    r.verdict = verdict->text;
    r.input = text(object, "input");
    r.output = text(object, "output");
    r.message = text(object, "message");
    if (const JsonValue* s = object.find("seconds"); s && s->kind == JsonValue::Kind::Number) r.seconds = s->number;
    return r;
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
            const std::optional<JsonValue> value = parseJson(line);
            if (!value || value->kind != JsonValue::Kind::Object) {
                merged.warnings.push_back(where + " is not a whole JSON record" +
                                          (in.eof() ? " (the task stopped while writing it?)" : "") + ": left out");
                continue;
            }
            if (value->find("summary")) continue;
            std::optional<FrameRecord> record = frameRecord(*value);
            if (!record) {
                merged.warnings.push_back(where + " has no frame number or verdict: left out");
                continue;
            }
            if (!inRange(record->frame, range)) continue;
            ++merged.records;
            if (!knownVerdict(record->verdict)) {
                merged.warnings.push_back(where + ": unknown verdict '" + record->verdict + "', counted as failed");
            }
            const auto earlier = merged.frames.find(record->frame);
            if (earlier != merged.frames.end() && record->verdict == "not started") continue;
            merged.frames[record->frame] = std::move(*record);
        }
        if (in.bad()) throw HostError("cannot read the report '" + file + "'");
    }
    for (int n : expected) {
        if (inRange(n, range) && !merged.frames.count(n)) merged.missing.insert(n);
    }
    return merged;
}

MergeCounts countMerged(const MergedReports& merged) {
    MergeCounts c;
    for (const char* v : kVerdicts) c.by_verdict[v] = 0;
    for (const auto& [number, record] : merged.frames) {
        const std::string verdict = knownVerdict(record.verdict) ? record.verdict : "failed";
        ++c.by_verdict[verdict];
        if (verdict != "skipped" && verdict != "not started") {
            c.seconds += record.seconds;
            ++c.rendered;
        }
    }
    c.missing = merged.missing.size();
    if (c.missing || c.by_verdict["failed"] || c.by_verdict["aborted"] || c.by_verdict["not started"]) {
        c.exit_status = kExitFailed;
    } else if (c.by_verdict["overlay"]) {
        c.exit_status = kExitOverlay;
    } else {
        c.exit_status = kExitOk;
    }
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
