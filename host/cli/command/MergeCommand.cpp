// tev-host merge: the parts' reports of a render split with --chunk, merged
// into one summary and one exit status.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "command/Commands.h"
#include "files/SafeFile.h"
#include "frames/FrameList.h"
#include "report/FrameRecord.h"
#include "report/ReportMerge.h"
#include "run/FdStream.h"
#include "run/StopSignals.h"

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

// Up to `most` frames of one verdict, with their messages; unknown verdicts
// are listed with the failed frames, by their name.
void listVerdict(std::ostream& out, const MergedReports& merged, FrameState state, std::size_t most = 20) {
    std::size_t shown = 0, all = 0;
    for (const auto& [number, r] : merged.frames) {
        if (r.state() != state) continue;
        if (++all > most) continue;
        out << stateName(state) << ": frame " << number << "  " << r.input << " -> " << r.output;
        if (r.verdict != stateName(state)) out << "  verdict '" << r.verdict << "'";
        if (!r.message.empty()) out << ": " << r.message;
        out << "\n";
        ++shown;
    }
    if (all > shown) out << stateName(state) << ": and " << all - shown << " more frames\n";
}

void writeSummary(std::ostream& out, const MergedReports& merged, const StateCounts& c, std::size_t files,
                  std::size_t expected) {
    out << "merged " << files << (files == 1 ? " report" : " reports") << " (" << merged.records
        << " frame records): " << c.frames() << " frames";
    if (expected) out << ", " << expected << " expected";
    out << "\n" << countsText(c, true) << "\n";
    double seconds = 0, longest = 0;
    std::size_t rendered = 0;
    int longest_frame = 0;
    for (const auto& [number, r] : merged.frames) {
        if (r.state() == FrameState::Skipped || r.state() == FrameState::NotStarted) continue;
        seconds += r.seconds;
        ++rendered;
        if (r.seconds > longest) {
            longest = r.seconds;
            longest_frame = number;
        }
    }
    if (rendered) {
        out << std::fixed << std::setprecision(2) << "render time: " << seconds << " s over " << rendered
            << " frames, " << seconds / static_cast<double>(rendered) << " s per frame (longest: frame "
            << longest_frame << ", " << longest << " s)\n";
    }
    for (FrameState s : {FrameState::Failed, FrameState::Aborted, FrameState::NotStarted, FrameState::Overlay}) {
        listVerdict(out, merged, s);
    }
    if (!merged.missing.empty())
        out << "missing (no report names them): frames " << numberRanges(merged.missing) << "\n";
    if (c.frames() == 0) out << "no frame was reported\n";
    const int status = c.exitStatus();
    out << "exit status " << status
        << (status == kExitOk        ? ": every frame written or skipped"
            : status == kExitOverlay ? ": every frame written, some show the failure overlay"
                                     : ": frames failed, were not written or are missing")
        << "\n"
        << std::flush;
}

// The merged records and their summary record.
void writeRecords(std::ostream& out, const MergedReports& merged, const StateCounts& counts) {
    double seconds = 0;
    for (const auto& [number, record] : merged.frames) {
        out << toJsonLine(record) << "\n";
        if (record.state() != FrameState::Skipped && record.state() != FrameState::NotStarted) seconds += record.seconds;
    }
    out << summaryJsonLine(counts, seconds, counts.exitStatus()) << "\n" << std::flush;
}

void writeMergedReport(const std::string& path, const MergedReports& merged, const StateCounts& counts) {
    replaceFile(path, [&](const std::string& temp) {
        std::ofstream file(temp, std::ios::trunc | std::ios::binary);
        writeRecords(file, merged, counts);
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
    const StateCounts counts = countMerged(merged);

    // With --report -, the records go to standard output and the summary to stderr.
    const bool records_out = o.report_file == "-";
    writeSummary(records_out ? err : out, merged, counts, files.size(), expected.size());
    if (records_out) {
        writeRecords(out, merged, counts);
    } else if (!o.report_file.empty()) {
        writeMergedReport(o.report_file, merged, counts);
    }
    if (const int e = writeErrorOf(out)) {
        if (e == EPIPE) return exitStatusForSignal(SIGPIPE);
        err << "tev-host: cannot write the merge's " << (records_out ? "records" : "summary") << " to "
            << streamName(out) << ": " << std::strerror(e) << "\n";
        return kExitFailed;
    }
    // Nothing reported and nothing expected is no success: the parts left no trace.
    return counts.frames() == 0 ? kExitFailed : counts.exitStatus();
}

}  // namespace TEV::Host::Cli
