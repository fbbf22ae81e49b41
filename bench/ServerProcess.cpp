#include "ServerProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace TEV::Bench {

bool portAccepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

ServerProcess::ServerProcess(const std::string& program, const std::vector<std::string>& args, int port) {
    if (portAccepts(port))
        throw std::runtime_error("port " + std::to_string(port) + " is already taken; stop what listens there");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!portAccepts(port)) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error(program + " exited before it listened on port " + std::to_string(port));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error(program + " did not listen on port " + std::to_string(port) + " within 5 s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

ServerProcess::~ServerProcess() { stop(); }

void ServerProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace TEV::Bench
