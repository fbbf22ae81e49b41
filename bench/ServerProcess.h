// The bench server as a child process, stopped (by its own pid) when the
// object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace TEV::Bench {

class ServerProcess {
public:
    // Starts `program` with `args` and waits until 127.0.0.1:`port` accepts
    // connections. Throws std::runtime_error when it can't be started or does
    // not listen within 5 s.
    ServerProcess(const std::string& program, const std::vector<std::string>& args, int port);
    // SIGTERM to the child, then waits for it.
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

private:
    void stop();
    pid_t pid_ = -1;
};

// True when something accepts TCP connections on 127.0.0.1:`port`.
bool portAccepts(int port);

}  // namespace TEV::Bench
