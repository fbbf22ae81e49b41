// The plug-in's console set aside: a benchmark that loads the plug-in into
// its own process shares standard output with it, and the plug-in's lines
// ("[TEV] ...", its welcome and setdown lines) would land among the tables.
// While a ConsoleAside lives, file descriptor 1 (and so std::cout, printf
// and everything the plug-in writes) goes to a file, and the benchmark writes
// its tables to out(), the standard output it had before.
#pragma once

#include <cstdio>
#include <string>

namespace TEV::Bench {

class ConsoleAside {
public:
    // Sends descriptor 1 to `path` (created or truncated). Throws
    // std::runtime_error naming the path when it can't be opened.
    explicit ConsoleAside(const std::string& path);
    // Flushes both and gives descriptor 1 back its old target.
    ~ConsoleAside();
    ConsoleAside(const ConsoleAside&) = delete;
    ConsoleAside& operator=(const ConsoleAside&) = delete;

    // The benchmark's own output: the standard output of before.
    std::FILE* out() const { return out_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int saved_ = -1;
    std::FILE* out_ = nullptr;
};

}  // namespace TEV::Bench
