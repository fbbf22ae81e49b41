// Two tev-host processes starting together against a down server, as two
// farm tasks do on one node: both launch a server, one wins the port, the
// other exits at once and successfully, and its tev-host reaps it while it
// goes on rendering, so no zombie child is left behind.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "EndToEndFixture.h"
#include "files/ImageFiles.h"
#include "SampleClip.h"

extern char** environ;

namespace fs = std::filesystem;

namespace TEV::E2e {
namespace {

using Clock = std::chrono::steady_clock;

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A process that exists, zombies included.
bool processExists(pid_t pid) { return fs::exists("/proc/" + std::to_string(pid)); }

// One tev-host render, its output and errors in files of `dir`.
struct FrontEndRun {
    pid_t pid = -1;
    fs::path dir;
    int status = -1;
    bool running = true;

    FrontEndRun(const fs::path& run_dir, const std::string& input) : dir(run_dir) {
        fs::create_directories(dir);
        const std::string output = (dir / "out_%04d.png").string();
        std::vector<std::string> args = {frontEndPath(), "render", pluginPath(), "--in", input, "--out", output};
        args.insert(args.end(), {"--set", "Brightness=1.3", "--threads", "1", "--no-progress"});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    void poll() {
        if (running && waitpid(pid, &status, WNOHANG) == pid) running = false;
    }
    int exitStatus() {
        if (running) waitpid(pid, &status, 0);
        running = false;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The pid the plug-in's launcher reported, or 0 when it launched none.
    pid_t launchedServer() const {
        std::smatch m;
        const std::string err = fileText(dir / "stderr.txt");
        if (!std::regex_search(err, m, std::regex(R"(Server launched with PID: (\d+))"))) return 0;
        return static_cast<pid_t>(std::stol(m[1]));
    }
};

int countOf(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

TEST_F(EndToEnd, TwoFrontEndsStartingTogetherOnADownServerLeaveOneServerAndNoZombie) {
    const fs::path dir = fs::current_path() / "e2e_server_race";
    fs::remove_all(dir);
    // Enough frames that each render goes on well after the losing server exited.
    constexpr int kFrames = 96;
    for (int n = 1; n <= kFrames; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "in_%04d.png", n);
        fs::create_directories(dir / "in");
        Host::Cli::writePngFile((dir / "in" / name).string(), Host::Cli::sampleFrame(160, 90, n, kFrames), 8);
    }
    const std::string input = (dir / "in" / "in_%04d.png").string();

    FrontEndRun runs[2] = {FrontEndRun(dir / "a", input), FrontEndRun(dir / "b", input)};
    ASSERT_GT(runs[0].pid, 0);
    ASSERT_GT(runs[1].pid, 0);

    // Watch every launched server while the renders run: one that exited must
    // be gone (reaped by its tev-host) while that tev-host still runs.
    pid_t launched[2] = {0, 0};
    bool reaped_while_running[2] = {false, false};
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while ((runs[0].running || runs[1].running) && Clock::now() < deadline) {
        for (int i = 0; i < 2; ++i) {
            runs[i].poll();
            if (!runs[i].running) continue;
            if (launched[i] == 0) launched[i] = runs[i].launchedServer();
            if (launched[i] == 0 || reaped_while_running[i]) continue;
            if (!processExists(launched[i])) reaped_while_running[i] = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (auto& run : runs) {
        EXPECT_EQ(run.exitStatus(), 0) << fileText(run.dir / "stderr.txt");
        EXPECT_NE(fileText(run.dir / "stdout.txt").find(std::to_string(kFrames) + " processed"), std::string::npos)
            << fileText(run.dir / "stdout.txt");
    }

    // One server runs: the one whose pid file stands; the other launch ended.
    const pid_t winner = serverPid();
    ASSERT_NE(winner, 0) << "no server runs after the race";
    ASSERT_NE(launched[0], 0) << "the first tev-host launched no server: " << fileText(dir / "a" / "stderr.txt");
    ASSERT_NE(launched[1], 0) << "the second tev-host found a server already: the launches did not race";
    const int loser_index = launched[0] == winner ? 1 : 0;
    ASSERT_EQ(launched[1 - loser_index], winner);
    const pid_t loser = launched[loser_index];
    EXPECT_TRUE(reaped_while_running[loser_index])
        << "the server that lost the port (pid " << loser << ") stayed a zombie of its tev-host until that exited";
    EXPECT_FALSE(processExists(loser)) << "the losing server is still a process";

    const std::string log = launcherLogOfThisCase();
    EXPECT_EQ(countOf(log, "listening on"), 1) << log;
    EXPECT_EQ(countOf(log, "a server already answers on port"), 1) << log;
    EXPECT_NE(log.find("(pid " + std::to_string(loser) + ") exits"), std::string::npos) << log;
    EXPECT_EQ(countOf(log, "ERROR"), 0) << log;
    fs::remove_all(dir);
}

}  // namespace
}  // namespace TEV::E2e
