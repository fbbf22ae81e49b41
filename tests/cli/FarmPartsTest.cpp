// Rendering in parts on a farm: --chunk's split of the frame list, and the
// merge of the parts' reports into one verdict.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "ParseWords.h"
#include "command/CliOptions.h"
#include "command/Commands.h"
#include "frames/FrameChunk.h"
#include "JsonText.h"
#include "report/FrameRecord.h"
#include "report/ReportMerge.h"
#include "run/FdStream.h"
#include "tevhost/HostError.h"

namespace fs = std::filesystem;

namespace TEV::Host::Cli {
namespace {

TEST(FrameChunk, PartsAreContiguousNearEqualAndCoverEveryFrameOnce) {
    for (std::size_t frames = 0; frames <= 40; ++frames) {
        for (int count = 1; count <= 12; ++count) {
            std::size_t next = 0, smallest = SIZE_MAX, largest = 0;
            for (int k = 1; k <= count; ++k) {
                const auto [first, end] = chunkBounds(frames, Chunk{k, count});
                ASSERT_EQ(first, next) << frames << " frames, part " << k << "/" << count;
                ASSERT_LE(end, frames);
                smallest = std::min(smallest, end - first);
                largest = std::max(largest, end - first);
                // Empty parts only past the list's end.
                if (end == first) {
                    EXPECT_EQ(first, frames);
                }
                next = end;
            }
            EXPECT_EQ(next, frames);
            EXPECT_LE(largest - smallest, 1u);
        }
    }
    EXPECT_EQ(chunkBounds(7, Chunk{}), (std::pair<std::size_t, std::size_t>{0, 7}));
}

TEST(FrameChunk, CommandLineTakesKOfNFromOneAndTellsMistakes) {
    const CliOptions o = parse({"render", "fx.so", "--in", "a.png", "--out", "b.png", "--chunk", "3/8"});
    EXPECT_EQ(o.chunk.index, 3);
    EXPECT_EQ(o.chunk.count, 8);
    for (const char* bad : {"0/4", "5/4", "3", "a/4", "1/0", "-1/4", "2/4x", "/4"}) {
        EXPECT_THROW(parse({"render", "fx.so", "--in", "a.png", "--out", "b.png", "--chunk", bad}),
                     std::invalid_argument)
            << bad;
    }
    try {
        parseChunk("0/4");
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("$((ID+1))/N"), std::string::npos) << e.what();
    }
    const CliOptions m =
        parse({"merge", "r1.jsonl", "reports/", "--in", "in_%04d.png", "--frames", "1-9", "--frame", "7"});
    EXPECT_EQ(m.action, Action::Merge);
    EXPECT_EQ(m.frame, 7);
    EXPECT_EQ(m.reports, (std::vector<std::string>{"r1.jsonl", "reports/"}));
    EXPECT_THROW(parse({"merge"}), std::invalid_argument);
    EXPECT_THROW(parse({"merge", "r.jsonl", "--set", "A=1"}), std::invalid_argument);
    EXPECT_THROW(parse({"params", "fx.so", "--chunk", "1/2"}), std::invalid_argument);
}

TEST(JsonText, NamesBytesRoundTripExactlyAndBrokenTextIsRefused) {
    // Every byte value, and valid UTF-8 beside bytes that are not.
    std::string bytes = "\xc3\xa9 \xf0\x9f\x8e\xac \xed\xa0\x80 \xc0\xaf \"\\\n\x7f";
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    const FrameRecord written{-3, bytes, "o\xe9.png", 1.25, "overlay", std::string("a\0b", 3), 1'700'000'000'123'456, 7};
    const std::string line = toJsonLine(written);
    ASSERT_TRUE(nlohmann::json::accept(line)) << line;  // valid JSON, valid UTF-8
    EXPECT_NE(line.find("\"output\":\"o\\u00e9.png\""), std::string::npos) << line;
    const std::optional<FrameRecord> read = frameRecordOf(*JsonText::parse(line));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->input, bytes);
    EXPECT_EQ(read->output, written.output);
    EXPECT_EQ(read->message, written.message);
    EXPECT_EQ(std::tie(read->frame, read->seconds, read->made_us, read->sequence), std::tie(written.frame, written.seconds, written.made_us, written.sequence));
    // \u00e9 is the byte; é itself and escapes outside 80-ff are characters.
    EXPECT_EQ(JsonText::parse(R"(["\u00e9", "é", "\u00e9\\u00e9", "\u0100\ud83d\ude00"])"),
              JsonText::Json({"\xe9", "\xc3\xa9", "\xe9\\u00e9", "\xc4\x80\xf0\x9f\x98\x80"}));
    // A lone surrogate is no text; a cut line, or one nested too deep, no record.
    EXPECT_FALSE(JsonText::parse(R"({"a":"x\ud800"})"));
    for (std::size_t cut = 0; cut < line.size(); ++cut) EXPECT_FALSE(JsonText::parse(line.substr(0, cut)));
    EXPECT_FALSE(JsonText::parse(std::string(40, '[') + std::string(40, ']')));
}

class ReportMergeTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tev_merge_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "reports");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& name, const std::vector<FrameRecord>& records, const std::string& tail = "") {
        const fs::path path = dir_ / "reports" / name;
        std::ofstream out(path, std::ios::binary);
        for (const FrameRecord& r : records) out << toJsonLine(r) << "\n";
        out << tail;
        return path.string();
    }
    static FrameRecord rec(int n, const std::string& verdict, const std::string& message = "") {
        return FrameRecord{n, "in" + std::to_string(n), "out" + std::to_string(n), 0.5, verdict, message};
    }
    int merge(std::vector<std::string> words, std::string& text, std::string& warnings) {
        std::ostringstream out, err;
        words.insert(words.begin(), "merge");
        const int status = mergeReports(parse(words), out, err);
        text = out.str();
        warnings = err.str();
        return status;
    }

    fs::path dir_;
};

TEST_F(ReportMergeTest, ExitStatusFollowsTheRenderRulesAndMissingFramesAreNamed) {
    write("a.jsonl", {rec(1, "processed"), rec(2, "unchanged")}, "{\"summary\":{\"frames\":2,\"exit_status\":0}}\n");
    write("b.jsonl", {rec(3, "skipped"), rec(4, "processed")});
    const std::string folder = (dir_ / "reports").string();
    std::string text, warnings;
    EXPECT_EQ(merge({folder}, text, warnings), kExitOk) << text;
    EXPECT_NE(
        text.find("2 processed, 1 unchanged, 0 overlay, 0 failed, 0 aborted, 1 skipped, 0 not started, 0 missing"),
        std::string::npos)
        << text;
    EXPECT_TRUE(warnings.empty()) << warnings;

    // Frames expected from a bounded --frames range that no report names.
    EXPECT_EQ(merge({folder, "--frames", "1-8"}, text, warnings), kExitFailed);
    EXPECT_NE(text.find("missing (no report names them): frames 5-8"), std::string::npos) << text;
    // --frames limits the records too.
    EXPECT_EQ(merge({folder, "--frames", "2-3"}, text, warnings), kExitOk) << text;
    EXPECT_NE(text.find("2 frames, 2 expected"), std::string::npos) << text;

    write("c.jsonl", {rec(5, "overlay", "Can't connect")});
    EXPECT_EQ(merge({folder}, text, warnings), kExitOverlay) << text;
    EXPECT_NE(text.find("overlay: frame 5  in5 -> out5: Can't connect"), std::string::npos) << text;
    for (const char* v : {"failed", "aborted", "not started", "invented"}) {
        write("d.jsonl", {rec(6, v, "why")});
        EXPECT_EQ(merge({folder}, text, warnings), kExitFailed) << v;
    }
    EXPECT_NE(warnings.find("unknown verdict 'invented'"), std::string::npos) << warnings;
}

TEST_F(ReportMergeTest, ALaterRecordReplacesAnEarlierOneAndATruncatedLineIsLeftOut) {
    // The stopped run: frame 2 aborted, 3 never started, the last line cut off.
    const std::string first = write("1-task.jsonl", {rec(1, "processed"), rec(2, "aborted"), rec(3, "not started")},
                                    "{\"frame\":4,\"input\":\"in4\",\"outp");
    // The resumed run, later: frame 1 skipped, 2 rendered; a "not started"
    // record replaces nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string second =
        write("0-task.jsonl", {rec(1, "skipped"), rec(2, "processed"), rec(3, "processed"), rec(1, "not started")});
    std::string text, warnings;
    EXPECT_EQ(merge({(dir_ / "reports").string(), "--frames", "1-3"}, text, warnings), kExitOk) << text;
    EXPECT_NE(text.find("2 processed, 0 unchanged, 0 overlay, 0 failed, 0 aborted, 1 skipped"), std::string::npos)
        << text;
    EXPECT_NE(warnings.find("1-task.jsonl line 4 is not a whole JSON record (the task stopped while writing it?)"),
              std::string::npos)
        << warnings;
    // Records without times: between records of one rank, the one read later
    // decides (files named on the command line are read in the order given);
    // a record of a written frame outranks an aborted one whatever the order.
    EXPECT_EQ(merge({second, first, "--frames", "1-4"}, text, warnings), kExitFailed) << text;
    EXPECT_EQ(text.find("aborted: frame 2"), std::string::npos) << text;
    EXPECT_NE(text.find("missing (no report names them): frames 4"), std::string::npos) << text;

    // The merged report is itself a report, with the summary line.
    const std::string merged = (dir_ / "merged.jsonl").string();
    EXPECT_EQ(merge({second, first, "--frames", "1-4", "--report", merged}, text, warnings), kExitFailed);
    std::ifstream in(merged);
    std::string line, last;
    int lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        last = line;
    }
    EXPECT_EQ(lines, 4);
    const std::optional<JsonText::Json> summary = JsonText::parse(last);
    ASSERT_TRUE(summary && summary->contains("summary")) << last;
    EXPECT_EQ(summary->at("summary").at("missing"), 1);
    EXPECT_EQ(summary->at("summary").at("processed"), 3);
    EXPECT_EQ(summary->at("summary").at("exit_status"), kExitFailed);

    EXPECT_THROW(merge({(dir_ / "nothing-here").string()}, text, warnings), HostError);
}

// The records' own times decide, not the files': a copy that left the files
// with equal times, or a cancelled task that wrote its records late.
TEST_F(ReportMergeTest, TheRecordsTimesDecideWhateverTheFilesTimes) {
    const auto made = [](FrameRecord r, std::int64_t us) {
        r.made_us = us;
        r.sequence = 1;
        return r;
    };
    const std::int64_t t = 1'800'000'000'000'000;
    // Job 9999 drew the overlay during an outage; job 10000 rendered frame 3
    // again. The names sort the newer job first; the copy gave equal times.
    const std::string older = write("9999-1.jsonl", {made(rec(3, "overlay", "Can't connect"), t)});
    const std::string newer = write("10000-1.jsonl", {made(rec(3, "processed"), t + 1)});
    // The cancelled task's "aborted" came after the resubmission's result
    // (and its file is the newer one).
    const std::string late = write("9998-2.jsonl", {made(rec(4, "aborted"), t + 9)});
    const std::string resumed = write("10001-2.jsonl", {made(rec(4, "processed"), t + 5)});
    for (const std::string& f : {older, newer, late, resumed}) {
        fs::last_write_time(f, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    fs::last_write_time(late, fs::file_time_type::clock::now());
    std::string text, warnings;
    EXPECT_EQ(merge({(dir_ / "reports").string(), "--frames", "3-4"}, text, warnings), kExitOk) << text;
    EXPECT_EQ(merge({newer, older, resumed, late}, text, warnings), kExitOk) << text;
    // A later overlay does replace a processed frame: the output was written again.
    write("10002-1.jsonl", {made(rec(3, "overlay", "Can't connect"), t + 2)});
    EXPECT_EQ(merge({(dir_ / "reports").string(), "--frames", "3-4"}, text, warnings), kExitOverlay) << text;
}

// Every write is checked, and "--report -" is standard output.
TEST_F(ReportMergeTest, AFailedWriteFailsTheMergeAndADashIsStandardOutput) {
    const std::string report = write("a.jsonl", {rec(1, "processed")});
    {
        FdStream full(::open("/dev/full", O_WRONLY | O_CLOEXEC), "standard output (/dev/full)", true);
        std::ostringstream err;
        EXPECT_EQ(mergeReports(parse({"merge", report}), full, err), kExitFailed);
        EXPECT_NE(err.str().find("cannot write the merge's summary to standard output (/dev/full): No space left"),
                  std::string::npos)
            << err.str();
    }
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    std::ostringstream out, err;
    const int status = mergeReports(parse({"merge", report, "--report", "-"}), out, err);
    fs::current_path(cwd);
    EXPECT_EQ(status, kExitOk);
    EXPECT_FALSE(fs::exists(dir_ / "-"));
    EXPECT_EQ(out.str().rfind(toJsonLine(rec(1, "processed")) + "\n{\"summary\":{\"frames\":1,", 0), 0u) << out.str();
    EXPECT_NE(err.str().find("exit status 0"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace TEV::Host::Cli
