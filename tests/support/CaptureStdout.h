// Captures what is written to std::cout while it lives.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

namespace TEV {
namespace Test {

class CaptureStdout {
public:
    CaptureStdout() : previous_(std::cout.rdbuf(captured_.rdbuf())) {}
    ~CaptureStdout() { std::cout.rdbuf(previous_); }
    CaptureStdout(const CaptureStdout&) = delete;
    CaptureStdout& operator=(const CaptureStdout&) = delete;

    // Everything written so far.
    std::string text() const { return captured_.str(); }

private:
    std::ostringstream captured_;
    std::streambuf* previous_;
};

}  // namespace Test
}  // namespace TEV
