// Rendering in parts on a farm: --chunk's split of the frame list, and the
// merge of the parts' reports into one verdict.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "ParseWords.h"
#include "command/CliOptions.h"
#include "command/Commands.h"
#include "frames/FrameChunk.h"
#include "run/FrameRecord.h"
#include "run/JsonValue.h"
#include "run/ReportMerge.h"
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

TEST(JsonValue, ReadsTheFrontEndsOwnRecordsBackAndRefusesTruncatedOnes) {
    const FrameRecord written{-3, "in \"q\"\\.png", "out\n\t\x01\xc3\xa9.png", 1.25, "overlay", "Can't connect"};
    const std::optional<JsonValue> v = parseJson(toJsonLine(written));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->find("frame")->number, -3);
    EXPECT_EQ(v->find("input")->text, written.input);
    EXPECT_EQ(v->find("output")->text, written.output);
    EXPECT_EQ(v->find("seconds")->number, 1.25);
    EXPECT_EQ(parseJson(R"({"a":"\ud83d\ude00","b":[1,-2.5e1,true,null],"c":{}})")->find("a")->text,
              "\xF0\x9F\x98\x80");
    const std::string line = toJsonLine(written);
    for (std::size_t cut = 0; cut < line.size(); ++cut) {
        EXPECT_FALSE(parseJson(line.substr(0, cut))) << line.substr(0, cut);
    }
    for (const char* bad : {"{\"a\":1,}", "{\"a\" 1}", "[1 2]", "01x", "\"\\q\"", "{\"a\":1} x", "nul"}) {
        EXPECT_FALSE(parseJson(bad)) << bad;
    }
    EXPECT_FALSE(parseJson(std::string(40, '[') + std::string(40, ']')));
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
    // Files named on the command line are read in the order given.
    EXPECT_EQ(merge({second, first, "--frames", "1-4"}, text, warnings), kExitFailed) << text;
    EXPECT_NE(text.find("aborted: frame 2"), std::string::npos) << text;
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
    const std::optional<JsonValue> summary = parseJson(last);
    ASSERT_TRUE(summary && summary->find("summary")) << last;
    EXPECT_EQ(summary->find("summary")->find("missing")->number, 1);
    EXPECT_EQ(summary->find("summary")->find("aborted")->number, 1);
    EXPECT_EQ(summary->find("summary")->find("exit_status")->number, kExitFailed);

    EXPECT_THROW(merge({(dir_ / "nothing-here").string()}, text, warnings), HostError);
}

}  // namespace
}  // namespace TEV::Host::Cli
