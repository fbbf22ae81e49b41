// The plug-in's console text, taken apart from the front end's report.
//
// The plug-in prints to the process's standard output. While a capture runs,
// file descriptor 1 is a pipe that a thread of the front end reads, and the
// C stream stdout is unbuffered, so that each print arrives when it is made.
// Each print is handed to a sink as a line of its own, with or without its
// line feed, and a print of several lines as several (the front end shows
// them on stderr, marked as the plug-in's). The front end writes its own report to
// the original standard output, reachable through originalStdout().
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace TEV::Host::Cli {

class ConsoleCapture {
public:
    using Sink = std::function<void(const std::string& line)>;

    // Redirects file descriptor 1 into the pipe and unbuffers the C stream
    // stdout. HostError when the pipe cannot be made.
    explicit ConsoleCapture(Sink sink);
    // Flushes stdout, puts the original standard output back, hands over the
    // lines still in the pipe (a last line without a line feed too).
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // A descriptor of the standard output as it was before the capture.
    int originalStdout() const { return original_stdout_; }
    // Replaces the sink and returns the one it replaces, once any line being
    // handed to that one is through.
    Sink setSink(Sink sink);

private:
    void readLoop();
    void deliver(const std::string& line);

    int original_stdout_ = -1;
    int read_end_ = -1;
    std::mutex sink_mutex_;
    Sink sink_;
    std::thread reader_;
};

}  // namespace TEV::Host::Cli
