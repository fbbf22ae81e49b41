#include "ConsoleAside.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace TEV::Bench {

ConsoleAside::ConsoleAside(const std::string& path) : path_(path) {
    std::fflush(stdout);
    std::cout.flush();
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    saved_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved_ < 0 || ::dup2(file, STDOUT_FILENO) < 0) {
        const int error = errno;
        ::close(file);
        if (saved_ >= 0) ::close(saved_);
        throw std::runtime_error("cannot set the plug-in's console aside: " + std::string(std::strerror(error)));
    }
    ::close(file);
    out_ = ::fdopen(saved_, "w");
    if (!out_) {
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        throw std::runtime_error("cannot open the benchmark's output stream");
    }
}

ConsoleAside::~ConsoleAside() {
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(out_);
    ::dup2(::fileno(out_), STDOUT_FILENO);
    std::fclose(out_);  // closes the saved descriptor
}

}  // namespace TEV::Bench
