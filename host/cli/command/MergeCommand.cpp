// tev-host merge: the parts' reports of a render split with --chunk, merged
// into one summary and one exit status.
#include <climits>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "command/Commands.h"
#include "frames/FrameList.h"
#include "run/FrameRecord.h"
#include "run/ReportMerge.h"
#include "files/SafeFile.h"

namespace TEV::Host::Cli {

namespace {

constexpr long kMostEnumerated = 10'000'000;  // frames a bounded --frames range may name without --in

std::set<int> expectedFrames(const CliOptions& o, const FrameRange& range) {
    std::set<int> expected;
    if (!o.input.empty()) {
        for (const FrameJob& f : listInputFrames(o.input, range, o.frame, o.numbering)) expected.insert(f.number);
    } else if (range.first >= 0 && range.last != INT_MAX) {
        const long step = std::max(1, range.step);
        if ((static_cast<long>(range.last) - range.first) / step >= kMostEnumerated) {
            throw HostError("--frames names more than " + std::to_string(kMostEnumerated) +
                            " frames; give --in to take the frames from the input");
        }
        for (long n = range.first; n <= range.last; n += step) expected.insert(static_cast<int>(n));
    }
    return expected;
}

// Up to `most` frames of one verdict, with their messages.
void listVerdict(std::ostream& out, const MergedReports& merged, const std::string& verdict, std::size_t most = 20) {
    std::size_t shown = 0, all = 0;
    for (const auto& [number, r] : merged.frames) {
        if (r.verdict != verdict) continue;
        if (++all > most) continue;
        out << verdict << ": frame " << number << "  " << r.input << " -> " << r.output;
        if (!r.message.empty()) out << ": " << r.message;
        out << "\n";
        ++shown;
    }
    if (all > shown) out << verdict << ": and " << all - shown << " more frames\n";
}

std::string summaryJson(const MergeCounts& c, std::size_t frames) {
    std::ostringstream s;
    s << "{\"summary\":{\"frames\":" << frames;
    for (const auto& [verdict, n] : c.by_verdict) {
        std::string key = verdict == "not started" ? "not_started" : verdict;
        s << ",\"" << key << "\":" << n;
    }
    s << ",\"missing\":" << c.missing << ",\"seconds\":" << std::fixed << std::setprecision(3) << c.seconds
      << ",\"exit_status\":" << c.exit_status << "}}";
    return s.str();
}

void writeMergedReport(const std::string& path, const MergedReports& merged, const MergeCounts& counts) {
    std::ostringstream text;
    for (const auto& [number, record] : merged.frames) text << toJsonLine(record) << "\n";
    text << summaryJson(counts, merged.frames.size() + merged.missing.size()) << "\n";
    replaceFile(path, [&text, &path](const std::string& temp) {
        std::ofstream file(temp, std::ios::trunc | std::ios::binary);
        file << text.str();
        file.close();
        if (!file) throw WriteError("cannot write the merged report '" + path + "'", errno);
    });
}

}  // namespace

int mergeReports(const CliOptions& o, std::ostream& out, std::ostream& err) {
    const FrameRange range{o.first_frame, o.last_frame, o.frame_step};
    const std::vector<std::string> files = reportFiles(o.reports);
    const std::set<int> expected = expectedFrames(o, range);
    const MergedReports merged = mergeReports(files, range, expected);
    for (const std::string& w : merged.warnings) err << "tev-host: warning: " << w << "\n";
    const MergeCounts c = countMerged(merged);
    const std::size_t frames = merged.frames.size() + merged.missing.size();

    out << "merged " << files.size() << (files.size() == 1 ? " report" : " reports") << " (" << merged.records
        << " frame records): " << frames << " frames";
    if (!expected.empty()) out << ", " << expected.size() << " expected";
    out << "\n";
    bool first = true;
    for (const char* v : {"processed", "unchanged", "overlay", "failed", "aborted", "skipped", "not started"}) {
        out << (first ? "" : ", ") << c.by_verdict.at(v) << " " << v;
        first = false;
    }
    out << ", " << c.missing << " missing\n";
    if (c.rendered) {
        double longest = 0;
        int longest_frame = 0;
        for (const auto& [number, r] : merged.frames) {
            if (r.verdict != "skipped" && r.verdict != "not started" && r.seconds > longest) {
                longest = r.seconds;
                longest_frame = number;
            }
        }
        out << std::fixed << std::setprecision(2) << "render time: " << c.seconds << " s over " << c.rendered
            << " frames, " << c.seconds / static_cast<double>(c.rendered) << " s per frame (longest: frame "
            << longest_frame << ", " << longest << " s)\n";
    }
    for (const char* v : {"failed", "aborted", "not started", "overlay"}) listVerdict(out, merged, v);
    for (const auto& [number, r] : merged.frames) {
        if (r.verdict != "processed" && r.verdict != "unchanged" && r.verdict != "overlay" && r.verdict != "failed" &&
            r.verdict != "aborted" && r.verdict != "skipped" && r.verdict != "not started") {
            out << "failed: frame " << number << "  verdict '" << r.verdict << "'\n";
        }
    }
    if (!merged.missing.empty())
        out << "missing (no report names them): frames " << numberRanges(merged.missing) << "\n";
    if (frames == 0) out << "no frame was reported\n";
    out << "exit status " << c.exit_status
        << (c.exit_status == kExitOk        ? ": every frame written or skipped"
            : c.exit_status == kExitOverlay ? ": every frame written, some show the failure overlay"
                                            : ": frames failed, were not written or are missing")
        << "\n"
        << std::flush;
    if (!o.report_file.empty()) writeMergedReport(o.report_file, merged, c);
    // Nothing reported and nothing expected is no success: the parts left no trace.
    return frames == 0 ? kExitFailed : c.exit_status;
}

}  // namespace TEV::Host::Cli
