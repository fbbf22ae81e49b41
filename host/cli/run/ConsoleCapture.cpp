#include "run/ConsoleCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

ConsoleCapture::ConsoleCapture(Sink sink) : sink_(std::move(sink)) {
    std::fflush(stdout);
    std::cout.flush();
    int ends[2];
    // A packet pipe keeps each write apart, so that the reader sees one of
    // the plug-in's prints at a time; a plain pipe where the kernel has none.
    if (pipe2(ends, O_CLOEXEC | O_DIRECT) != 0 && pipe2(ends, O_CLOEXEC) != 0) {
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
    // Unbuffered: each print (one fwrite, as std::cout's insertions are) is
    // one write, seen as it is printed instead of when a line feed comes.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
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
    // A packet is at most PIPE_BUF bytes, and a read shorter than its packet
    // would lose the rest: the buffer holds a whole one.
    char buffer[PIPE_BUF];
    std::string longer;      // a print longer than one packet, until its end
    bool line_open = false;  // the last print did not end its line
    for (;;) {
        const ssize_t n = read(read_end_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        longer.append(buffer, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) == sizeof buffer && longer.back() != '\n') continue;
        std::string print;
        print.swap(longer);
        // A lone line feed ends the print before it ("text" then "\n").
        if (print == "\n" && line_open) {
            line_open = false;
            continue;
        }
        line_open = print.back() != '\n';
        if (!line_open) print.pop_back();
        std::size_t start = 0;
        for (std::size_t end;; start = end + 1) {
            end = print.find('\n', start);
            std::string line = print.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            deliver(line);
            if (end == std::string::npos) break;
        }
    }
    if (!longer.empty()) deliver(longer);
}

}  // namespace TEV::Host::Cli
