#include "ConsoleCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

ConsoleCapture::ConsoleCapture(Sink sink) : sink_(std::move(sink)) {
    std::fflush(stdout);
    std::cout.flush();
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        throw HostError(std::string("cannot capture the plug-in's console: pipe: ") + std::strerror(errno));
    }
    original_stdout_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (original_stdout_ < 0 || dup2(ends[1], STDOUT_FILENO) < 0) {
        const int error_number = errno;
        close(ends[0]);
        close(ends[1]);
        if (original_stdout_ >= 0) close(original_stdout_);
        throw HostError(std::string("cannot capture the plug-in's console: ") + std::strerror(error_number));
    }
    close(ends[1]);  // descriptor 1 is now the pipe's only write end
    read_end_ = ends[0];
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    reader_ = std::thread([this] { readLoop(); });
}

ConsoleCapture::~ConsoleCapture() {
    std::cout.flush();
    std::fflush(stdout);
    // Putting the original output back closes the pipe's write end: the
    // reader sees the end once the lines in the pipe are read.
    dup2(original_stdout_, STDOUT_FILENO);
    reader_.join();
    close(read_end_);
    close(original_stdout_);
}

ConsoleCapture::Sink ConsoleCapture::setSink(Sink sink) {
    std::lock_guard<std::mutex> lock(sink_mutex_);
    std::swap(sink, sink_);
    return sink;
}

void ConsoleCapture::deliver(const std::string& line) {
    std::lock_guard<std::mutex> lock(sink_mutex_);
    if (sink_) sink_(line);
}

void ConsoleCapture::readLoop() {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(read_end_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = pending.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            deliver(line);
        }
        pending.erase(0, start);
    }
    if (!pending.empty()) deliver(pending);
}

}  // namespace TEV::Host::Cli
