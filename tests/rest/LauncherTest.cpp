// The server launch: install locations, the log file, and what the spawned
// runtime gets (a fake runtime in the build's maker folder reports it).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <vector>

#include "RestTestHelpers.h"
#include "TextFiles.h"

namespace fs = std::filesystem;

namespace TEV {
namespace Test {
namespace {

// Waits for the child that the launch reported and returns its exit status.
int waitForLaunchedChild(const std::string& output) {
    std::smatch m;
    if (!std::regex_search(output, m, std::regex(R"(\[TEV\] Server launched with PID: (\d+)\n)"))) {
        ADD_FAILURE() << "no PID line in: " << output;
        return -1;
    }
    int status = 0;
    if (waitpid(static_cast<pid_t>(std::stol(m[1])), &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Launcher : public ServerLinkTest {
protected:
    void SetUp() override {
        ServerLinkTest::SetUp();
        if (IsSkipped()) return;
        fs::remove_all(logFolder());
        original_cwd_ = fs::current_path();
    }
    void TearDown() override {
        if (!original_cwd_.empty()) fs::current_path(original_cwd_);
        removeServerInstall();
    }

    fs::path original_cwd_;
};

TEST_F(Launcher, WithNothingInstalledTheSpawnFailsAndTheLaunchCounts) {
    auto client = makeClient();
    CaptureStdout out;
    EXPECT_FALSE(client->start_server());

    const std::string expected = "[TEV] path not found: " + serverRoot() + "\n" +
                                 "[TEV] path not found: " + serverExecutable() + "\n" +
                                 "[TEV] Launching Server to Logs: " + logFolder() + "\n" +
                                 "[TEV] Creating log file at: " + launcherLog() + "\n" +
                                 "[TEV] Failed to spawn server process: No such file or directory\n";
    EXPECT_EQ(out.text(), expected);
    EXPECT_TRUE(fs::is_directory(logFolder()));
    EXPECT_TRUE(fs::is_regular_file(launcherLog()));
    EXPECT_TRUE(client->launch_attempted);
    EXPECT_EQ(fs::current_path(), original_cwd_);
}

TEST_F(Launcher, InstalledRuntimeGetsFourArgumentsOneVariableAndOnlyTheStandardDescriptors) {
    installFakeRuntime();
    fs::create_directories(logFolder());
    { std::ofstream(launcherLog()) << "earlier line\n"; }
    // A descriptor of the host without close-on-exec must not reach the server.
    const int host_fd = open("/dev/zero", O_RDONLY);
    ASSERT_GE(host_fd, 3);

    auto client = makeClient();
    CaptureStdout out;
    const auto start = Clock::now();
    EXPECT_TRUE(client->start_server());
    EXPECT_GE(secondsSince(start), 0.5) << "the launch gives the server half a second";
    close(host_fd);
    EXPECT_TRUE(client->launch_attempted);
    EXPECT_EQ(fs::current_path(), original_cwd_);
    ASSERT_EQ(waitForLaunchedChild(out.text()), 0);

    const std::string log = readFile(launcherLog());
    EXPECT_EQ(log.rfind("earlier line\n", 0), 0u) << "the log is appended to, not truncated";
    EXPECT_NE(log.find("\nend\n"), std::string::npos) << log;

    const std::string script =
        "import sys;sys.path.append('" + serverDirectory() + "');from launcher import launcher;launcher()";
    EXPECT_EQ(linesStartingWith(log, "argc="), std::vector<std::string>{"4"});
    EXPECT_EQ(linesStartingWith(log, "arg["),
              (std::vector<std::string>{"0]=" + serverExecutable(), "1]=-I", "2]=-c", "3]=" + script}));
    EXPECT_EQ(linesStartingWith(log, "env="), std::vector<std::string>{"PYTHONUNBUFFERED=1"});
    EXPECT_EQ(linesStartingWith(log, "cwd="), std::vector<std::string>{fs::canonical(serverDirectory()).string()});
    EXPECT_EQ(linesStartingWith(log, "pgid_is_pid="), std::vector<std::string>{"1"});
    const std::string log_target = fs::canonical(launcherLog()).string();
    EXPECT_EQ(linesStartingWith(log, "fd="),
              (std::vector<std::string>{"0 -> /dev/null", "1 -> " + log_target, "2 -> " + log_target}));
}

TEST_F(Launcher, HostWithoutStandardInputStillLaunches) {
    installFakeRuntime();
    auto client = makeClient();
    CaptureStdout out;
    const int saved_stdin = dup(0);
    ASSERT_GE(saved_stdin, 0);
    close(0);  // the log file or /dev/null would now be opened as descriptor 0
    const bool launched = client->start_server();
    dup2(saved_stdin, 0);
    close(saved_stdin);

    ASSERT_TRUE(launched) << out.text();
    ASSERT_EQ(waitForLaunchedChild(out.text()), 0);
    const std::string log = readFile(launcherLog());
    const std::string log_target = fs::canonical(launcherLog()).string();
    EXPECT_EQ(linesStartingWith(log, "fd="),
              (std::vector<std::string>{"0 -> /dev/null", "1 -> " + log_target, "2 -> " + log_target}));
}

// Every render user's launcher appends to the one launcher.log: created
// group-writable whatever the umask; a link planted in its place is not
// followed, and the launch goes on without the log.
TEST_F(Launcher, TheLogIsTheGroupsALinkInItsPlaceIsRefusedAndTheLaunchGoesOn) {
    installFakeRuntime();
    fs::create_directories(logFolder());
    const fs::path elsewhere = fs::path(logFolder()).parent_path() / "not-a-log";
    { std::ofstream(elsewhere) << "kept\n"; }
    fs::create_symlink(elsewhere, launcherLog());
    const mode_t old_mask = umask(077);
    auto client = makeClient();
    CaptureStdout linked;
    const bool launched_past_link = client->start_server();
    fs::remove(launcherLog());
    CaptureStdout created;
    const bool launched_with_log = client->start_server();
    umask(old_mask);

    ASSERT_TRUE(launched_past_link) << linked.text();
    EXPECT_NE(linked.text().find("[TEV] Failed to open log file: Too many levels of symbolic links; "
                                 "launching with the server's output discarded\n"),
              std::string::npos)
        << linked.text();
    EXPECT_EQ(waitForLaunchedChild(linked.text()), 0);
    EXPECT_EQ(readFile(elsewhere.string()), "kept\n");
    fs::remove(elsewhere);
    ASSERT_TRUE(launched_with_log) << created.text();
    EXPECT_EQ(waitForLaunchedChild(created.text()), 0);
    EXPECT_EQ(fs::status(launcherLog()).permissions() & fs::perms::group_all,
              fs::perms::group_read | fs::perms::group_write);
}

TEST_F(Launcher, WorkingDirectoryWithALongPathIsRestored) {
    installFakeRuntime();
    fs::path deep = fs::path(kBuildDir) / "long-cwd";
    while (deep.string().size() < 1200) deep /= std::string(100, 'd');
    fs::create_directories(deep);
    fs::current_path(deep);

    auto client = makeClient();
    CaptureStdout out;
    EXPECT_TRUE(client->start_server());
    const fs::path after = fs::current_path();
    fs::current_path(original_cwd_);
    fs::remove_all(fs::path(kBuildDir) / "long-cwd");
    EXPECT_EQ(after, deep);
    EXPECT_EQ(waitForLaunchedChild(out.text()), 0);
}

}  // namespace
}  // namespace Test
}  // namespace TEV
