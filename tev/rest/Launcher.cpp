// Starting the local server: its runtime is spawned in a process group of its
// own, with its output appended to Logs/launcher.log, and left to run; the
// client reaps it once it has exited.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Diagnostics.h"
#include "RestClient.h"

namespace TEV {
namespace Rest {

namespace {

// Gives a freshly spawned server time to start listening.
constexpr auto kPauseAfterLaunch = std::chrono::milliseconds(500);

// A descriptor closed when the scope ends; -1 when there is none.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// The descriptor moved to a number above 2: the child's file actions close 0
// to 2 before duplicating into them, which would lose a descriptor that had
// one of those numbers. Close-on-exec is kept (no other thread's child
// inherits it).
int above2(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

// Opens with close-on-exec and a number above 2.
int openAbove2(const char* path, int flags, mode_t mode) { return above2(open(path, flags | O_CLOEXEC, mode)); }

void check(int rc, const char* what) {
    if (rc != 0) throw std::runtime_error(std::string(what) + ": " + detail::errnoText(rc));
}

class FileActions {
public:
    FileActions() { check(posix_spawn_file_actions_init(&actions_), "posix_spawn_file_actions_init"); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
public:
    SpawnAttributes() { check(posix_spawnattr_init(&attributes_), "posix_spawnattr_init"); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    posix_spawnattr_t* get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

// The child gets 0, 1 and 2 and nothing else of the host: descriptors the
// host opened without close-on-exec would otherwise live on in the server.
void inheritOnlyStandardDescriptors(posix_spawn_file_actions_t* actions, short& flags) {
#if defined(__APPLE__)
    (void)actions;
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    (void)flags;
    check(posix_spawn_file_actions_addclosefrom_np(actions, 3), "posix_spawn_file_actions_addclosefrom_np");
#else
    (void)flags;
    const long limit = sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < limit; ++fd) {
        const int fd_flags = fcntl(fd, F_GETFD);
        if (fd_flags >= 0 && !(fd_flags & FD_CLOEXEC))
            check(posix_spawn_file_actions_addclose(actions, fd), "posix_spawn_file_actions_addclose");
    }
#endif
}

// The calling process's working directory, held open so that it can be
// restored whatever its path; -1 when it can't be held.
int holdWorkingDirectory() {
#ifdef O_PATH
    return open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
    return open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

}  // namespace

bool Client::start_server() {
    // Every way out of here counts as an attempt: one outage, one launch.
    struct MarkAttempted {
        std::atomic<bool>& flag;
        ~MarkAttempted() { flag.store(true); }
    } mark{launch_attempted};

    if (!launches_server) {
        detail::say("Not starting the server: this client talks to port " + std::to_string(port) +
                    ", the server would listen on the build's port");
        return false;
    }
    try {
        std::string server_dir = GetTEVRoot() + "/Server";
        std::replace(server_dir.begin(), server_dir.end(), '\\', '/');
        const std::string exe = GetTEVServerExe();
        const std::string script =
            "import sys;sys.path.append('" + server_dir + "');from launcher import launcher;launcher()";

        const std::string log_dir = GetUserAppFolder("Logs");
        detail::say("Launching Server to Logs: " + log_dir);
        const std::string log_path = log_dir + "/launcher.log";
        mkdir(log_dir.c_str(), 0755);
        detail::say("Creating log file at: " + log_path);

        std::vector<std::string> args = {exe, "-I", "-c", script};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::string only_variable = "PYTHONUNBUFFERED=1";
        char* envp[] = {only_variable.data(), nullptr};

        // A log this user can't open doesn't stop the launch: the server's
        // output is lost, its frames are not.
        const Descriptor log(above2(OpenSharedLogFile(log_path)));
        if (!log.valid()) {
            detail::say("Failed to open log file: " + detail::errnoText(errno) +
                        "; launching with the server's output discarded");
        }
        const Descriptor dev_null(openAbove2("/dev/null", O_RDWR, 0));
        const Descriptor& output = log.valid() ? log : dev_null;

        FileActions actions;
        short flags = POSIX_SPAWN_SETPGROUP;
        for (int fd = 0; fd <= 2; ++fd) check(posix_spawn_file_actions_addclose(actions.get(), fd), "addclose");
        if (dev_null.valid()) check(posix_spawn_file_actions_adddup2(actions.get(), dev_null.get(), 0), "adddup2");
        if (output.valid()) {
            check(posix_spawn_file_actions_adddup2(actions.get(), output.get(), 1), "adddup2");
            check(posix_spawn_file_actions_adddup2(actions.get(), output.get(), 2), "adddup2");
        }
        inheritOnlyStandardDescriptors(actions.get(), flags);

        SpawnAttributes attributes;
        check(posix_spawnattr_setflags(attributes.get(), flags), "posix_spawnattr_setflags");
        check(posix_spawnattr_setpgroup(attributes.get(), 0), "posix_spawnattr_setpgroup");

        // The child starts in the server directory. The change affects the
        // whole process, so it spans the spawn alone, and is only made when
        // the way back is held.
        pid_t pid = 0;
        int rc;
        {
            const Descriptor here(holdWorkingDirectory());
            if (here.valid()) (void)chdir(server_dir.c_str());
            rc = posix_spawn(&pid, exe.c_str(), actions.get(), attributes.get(), argv.data(), envp);
            if (here.valid()) (void)fchdir(here.get());
        }
        if (rc != 0) {
            detail::say("Failed to spawn server process: " + detail::errnoText(rc));
            return false;
        }
        detail::say("Server launched with PID: " + std::to_string(pid));
        {
            std::lock_guard<std::mutex> lock(launched_mutex);
            launched_pids.push_back(pid);
        }
        std::this_thread::sleep_for(kPauseAfterLaunch);
        return true;
    } catch (...) {
        return false;
    }
}

void Client::reapLaunchedServers() {
    std::lock_guard<std::mutex> lock(launched_mutex);
    // ECHILD: the host reaps its children itself (or ignores SIGCHLD); the
    // pid is no longer ours to wait for.
    const auto reaped = [](int pid) {
        int status = 0;
        const pid_t rc = waitpid(pid, &status, WNOHANG);
        return rc == pid || (rc < 0 && errno == ECHILD);
    };
    launched_pids.erase(std::remove_if(launched_pids.begin(), launched_pids.end(), reaped), launched_pids.end());
}

}  // namespace Rest
}  // namespace TEV
