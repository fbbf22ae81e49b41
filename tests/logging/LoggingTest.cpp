// spdlog_log: what reaches the file and standard output, rotation, failure
// reporting, concurrent callers and the file's close-on-exec flag.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "Logging.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kStampLength = 20;  // "YYYY-mm-dd HH:MM:SS "

// A fresh folder for the running test.
fs::path scratch() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir =
        fs::path(TEV_LOG_SCRATCH_DIR) / (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

// Logs with standard output captured; returns what was printed.
std::string logCapturingStdout(const std::string& message, const fs::path& file) {
    ::testing::internal::CaptureStdout();
    spdlog_log(message, file.string());
    return ::testing::internal::GetCapturedStdout();
}

void writeFileOfSize(const fs::path& path, std::size_t size, char fill) {
    std::ofstream(path, std::ios::binary) << std::string(size, fill);
}

// Like writeFileOfSize, ending in a line break as a log does.
void writeLogOfSize(const fs::path& path, std::size_t size) {
    std::ofstream(path, std::ios::binary) << std::string(size - 1, '.') << '\n';
}

std::string stamp(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

// --- the line ----------------------------------------------------------------

TEST(LogFile, ConsecutiveCallsAppendStampedLinesInLocalTime) {
    // Quarter-hour offset: a UTC stamp can never pass for a local one.
    setenv("TZ", "TEST-05:45", 1);
    tzset();
    const fs::path log = scratch() / "Logs" / "ExamplePlugin_Adobe.log";  // folder made on demand
    const std::time_t before = std::time(nullptr);
    logCapturingStdout("welcome!", log);
    logCapturingStdout("ExamplePlugin, v1.0.0 in PPRO", log);
    const std::time_t after = std::time(nullptr);

    const std::vector<std::string> lines = linesOf(readFile(log));
    ASSERT_EQ(lines.size(), 2u);
    const std::regex line(R"((\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}) (.*))");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, line)) << lines[0];
    EXPECT_EQ(m[2], "welcome!");
    std::set<std::string> stamps;
    for (std::time_t t = before; t <= after; ++t) stamps.insert(stamp(t));
    EXPECT_TRUE(stamps.count(m[1])) << m[1] << " is not local time between the calls";
    ASSERT_TRUE(std::regex_match(lines[1], m, line)) << lines[1];
    EXPECT_EQ(m[2], "ExamplePlugin, v1.0.0 in PPRO");
}

TEST(LogFile, MessagesAreWrittenVerbatim) {
    const fs::path log = scratch() / "verbatim.log";
    const std::string tricky = "{} {0} {:>10} {{ %v %Y %% \\ }";
    logCapturingStdout(tricky, log);
    std::stringstream stream;
    stream << "At line " << 185 << "\n";
    ::testing::internal::CaptureStdout();
    spdlog_log(std::move(stream), log.string());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "At line 185\n");

    const std::string text = readFile(log);
    const std::vector<std::string> lines = linesOf(text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(kStampLength), tricky);
    EXPECT_EQ(lines[1].substr(kStampLength), "At line 185");
    EXPECT_EQ(lines[2], "");  // the message's own line break, then the line's
}

TEST(LogFile, MessageIsEchoedToStandardOutputWithoutLineBreak) {
    const fs::path log = scratch() / "echo.log";
    EXPECT_EQ(logCapturingStdout("TEV Error in UniversalRender: Connection failed", log),
              "TEV Error in UniversalRender: Connection failed");
    ::testing::internal::CaptureStdout();
    OutputDebugString("debug ");
    OutputDebugString(std::string("text"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "debug text");
}

// --- failures ----------------------------------------------------------------

TEST(LogFile, UnwritableFolderIsReportedAndTheCallerCarriesOn) {
    const fs::path dir = scratch();
    writeFileOfSize(dir / "not_a_folder", 1, 'x');
    const fs::path log = dir / "not_a_folder" / "Logs" / "x.log";
    const std::string out = logCapturingStdout("lost", log);
    EXPECT_EQ(out.rfind("lostLog failed: Failed opening file " + log.string() + " for writing", 0),
              0u)
        << out;
    EXPECT_EQ(out.back(), '\n');
    EXPECT_FALSE(fs::exists(log));
}

// Every render user of a node appends to the same log: whoever creates it,
// under any umask, leaves it writable by the group; a link planted in its
// place is not followed.
TEST(LogFile, SharedLogIsTheGroupsAndALinkInItsPlaceIsNotFollowed) {
    const fs::path dir = scratch();
    const fs::path elsewhere = dir / "not-a-log";
    writeFileOfSize(elsewhere, 4, 'k');
    fs::create_symlink(elsewhere, dir / "linked.log");
    const mode_t old_mask = umask(077);
    logCapturingStdout("first", dir / "shared.log");
    const std::string refused = logCapturingStdout("second", dir / "linked.log");
    umask(old_mask);

    EXPECT_EQ(fs::status(dir / "shared.log").permissions() & fs::perms::group_all,
              fs::perms::group_read | fs::perms::group_write);
    EXPECT_NE(refused.find("Log failed: Failed opening file " + (dir / "linked.log").string() + " for writing"),
              std::string::npos)
        << refused;
    EXPECT_EQ(readFile(elsewhere), "kkkk");
}

// --- rotation ----------------------------------------------------------------

TEST(LogRotation, LineThatFitsExactlyDoesNotRotate) {
    const fs::path dir = scratch();
    const std::string message = "fits";
    const std::size_t line = kStampLength + message.size() + 1;
    writeFileOfSize(dir / "p.log", kLogMaxFileSize - line, 'x');
    logCapturingStdout(message, dir / "p.log");
    EXPECT_EQ(fs::file_size(dir / "p.log"), kLogMaxFileSize);
    EXPECT_FALSE(fs::exists(dir / "p.1.log"));
}

TEST(LogRotation, LineThatWouldPassTheLimitGoesToAFreshFile) {
    const fs::path dir = scratch();
    const std::string message = "overflows";
    const std::size_t line = kStampLength + message.size() + 1;
    writeFileOfSize(dir / "p.log", kLogMaxFileSize - line + 1, 'x');
    logCapturingStdout(message, dir / "p.log");
    EXPECT_EQ(fs::file_size(dir / "p.1.log"), kLogMaxFileSize - line + 1);
    EXPECT_EQ(readFile(dir / "p.log").substr(kStampLength), message + "\n");
}

TEST(LogRotation, RotatedFilesMoveUpAndAtMostFiveRemain) {
    const fs::path dir = scratch();
    for (int k = 1; k <= 5; ++k)
        writeFileOfSize(dir / ("p." + std::to_string(k) + ".log"), 10, char('0' + k));
    writeFileOfSize(dir / "p.log", kLogMaxFileSize, 'c');
    logCapturingStdout("newest", dir / "p.log");
    EXPECT_EQ(readFile(dir / "p.1.log"), std::string(kLogMaxFileSize, 'c'));
    for (int k = 2; k <= 5; ++k)
        EXPECT_EQ(readFile(dir / ("p." + std::to_string(k) + ".log")),
                  std::string(10, char('0' + k - 1)));
    EXPECT_FALSE(fs::exists(dir / "p.6.log"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 6);
    EXPECT_EQ(readFile(dir / "p.log").substr(kStampLength), "newest\n");
}

// --- concurrency -------------------------------------------------------------

namespace {

// Logs `per_thread` distinct lines from each of `threads` threads at once.
void logFromThreads(const fs::path& log, int threads, int per_thread) {
    ::testing::internal::CaptureStdout();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < per_thread; ++i)
                spdlog_log("TEV Error in UniversalRender: thread " + std::to_string(t) + " line " +
                               std::to_string(i),
                           log.string());
        });
    for (auto& w : workers) w.join();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("Log failed"), std::string::npos) << out.substr(0, 400);
}

// Every expected line exactly once, each well-formed.
void expectAllLines(const std::string& text, int threads, int per_thread) {
    std::multiset<std::string> seen;
    const std::regex line(
        R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} (TEV Error in UniversalRender: thread \d+ line \d+))");
    std::smatch m;
    for (const std::string& l : linesOf(text)) {
        if (l.find("TEV Error") == std::string::npos) continue;  // pre-filled content
        ASSERT_TRUE(std::regex_match(l, m, line)) << l.substr(0, 200);
        seen.insert(m[1]);
    }
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < per_thread; ++i)
            EXPECT_EQ(seen.count("TEV Error in UniversalRender: thread " + std::to_string(t) +
                                 " line " + std::to_string(i)),
                      1u)
                << t << "/" << i;
    EXPECT_EQ(seen.size(), std::size_t(threads * per_thread));
}

}  // namespace

TEST(LogConcurrency, SimultaneousCallsLoseNoLine) {
    const fs::path log = scratch() / "busy.log";
    logFromThreads(log, 8, 40);
    expectAllLines(readFile(log), 8, 40);
}

TEST(LogConcurrency, SimultaneousCallsRotateOnce) {
    const fs::path dir = scratch();
    writeLogOfSize(dir / "busy.log", kLogMaxFileSize - 100);
    logFromThreads(dir / "busy.log", 8, 10);
    EXPECT_TRUE(fs::exists(dir / "busy.1.log"));
    EXPECT_FALSE(fs::exists(dir / "busy.2.log"));
    expectAllLines(readFile(dir / "busy.1.log") + "\n" + readFile(dir / "busy.log"), 8, 10);
}

// --- close-on-exec -----------------------------------------------------------

namespace {

// What a freshly spawned program sees at descriptor `fd` of its own: the
// target of /proc/self/fd/<fd>, or "" when it has no such descriptor.
std::string childSeesDescriptor(int fd) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return "pipe failed";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char* argv[] = {const_cast<char*>("readlink"), const_cast<char*>(link.c_str()), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, "/bin/readlink", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string seen;
    char buf[512];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) seen.append(buf, std::size_t(n));
    close(out[0]);
    if (rc != 0) return "spawn failed";
    int status = 0;
    waitpid(pid, &status, 0);
    while (!seen.empty() && seen.back() == '\n') seen.pop_back();
    return seen;
}

// Descriptors of this process, other than `except`, open on `path`.
std::vector<int> descriptorsOn(const fs::path& path, int except) {
    std::vector<int> fds;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(entry.path(), ec);
        const int fd = std::stoi(entry.path().filename().string());
        if (!ec && target == path && fd != except) fds.push_back(fd);
    }
    return fds;
}

}  // namespace

TEST(LogFile, SpawnedProcessesDoNotInheritTheOpenLog) {
    const fs::path dir = scratch();
    // The probe itself: an inheritable descriptor is seen by the child.
    const fs::path plain = dir / "plain.txt";
    const int inheritable = open(plain.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(inheritable, 0);
    EXPECT_EQ(childSeesDescriptor(inheritable), plain.string());
    close(inheritable);

    // A FIFO as the log file holds the logger inside its write (the pipe is
    // far smaller than the message) until this test drains it.
    const fs::path fifo = dir / "held.log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::string message(1 << 20, 'm');
    ::testing::internal::CaptureStdout();
    std::thread logger([&] { spdlog_log(message, fifo.string()); });

    std::vector<int> writers;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((writers = descriptorsOn(fifo, reader)).empty() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(writers.size(), 1u) << "the log never opened the file";
    const int fd = writers[0];
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_NE(childSeesDescriptor(fd), fifo.string());

    fcntl(reader, F_SETFL, fcntl(reader, F_GETFL) & ~O_NONBLOCK);
    std::string received;
    std::vector<char> buf(1 << 16);
    for (ssize_t n; (n = read(reader, buf.data(), buf.size())) > 0;)
        received.append(buf.data(), std::size_t(n));
    logger.join();
    close(reader);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(received.size(), kStampLength + message.size() + 1);
}
