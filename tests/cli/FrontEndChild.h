// tev-host run as a child process, as a user or a farm runs it, so that tests
// can signal it, close its output or fill its disk, and read what it printed.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "E2eSupport.h"
#include "TextFiles.h"

namespace TEV::E2e {

// A tev-host child (the built one, with `args` after the program name) whose
// stdout and stderr go to stdout.txt and stderr.txt in `dir` (stdout to
// `stdout_fd` when one is given), started in `cwd` when one is given.
class FrontEndChild {
public:
    FrontEndChild(const std::string& dir, std::vector<std::string> args, const std::string& cwd = "",
                  int stdout_fd = -1)
        : out_(dir + "/stdout.txt"), err_(dir + "/stderr.txt") {
        args.insert(args.begin(), frontEndPath());
        pid_ = fork();
        if (pid_ == 0) {
            const int out = stdout_fd >= 0 ? stdout_fd : open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    FrontEndChild(const FrontEndChild&) = delete;
    FrontEndChild& operator=(const FrontEndChild&) = delete;
    // A child left running by a failed assertion is stopped.
    ~FrontEndChild() {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
        }
    }

    // Waits until stdout or stderr holds `text`; false after 60 s or when the
    // child ended without printing it.
    bool waitForText(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (printed(text)) return true;
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                done_ = true;
                return printed(text);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    void signal(int signal_number) { kill(pid_, signal_number); }
    // The exit status; -1 when the child did not exit by itself (a crash or a signal).
    int wait() {
        if (!done_) waitpid(pid_, &status_, 0);
        done_ = true;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    std::string out() const { return TEV::Test::readFile(out_); }
    std::string err() const { return TEV::Test::readFile(err_); }

private:
    bool printed(const std::string& text) const {
        return out().find(text) != std::string::npos || err().find(text) != std::string::npos;
    }

    std::string out_, err_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool done_ = false;
};

}  // namespace TEV::E2e
