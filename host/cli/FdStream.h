// An output stream over a file descriptor. A failed write (a closed pipe:
// EPIPE, with SIGPIPE ignored) sets the stream's badbit, which the render
// checks after each line.
#pragma once

#include <ostream>
#include <streambuf>

namespace TEV::Host::Cli {

class FdStreamBuf : public std::streambuf {
public:
    explicit FdStreamBuf(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
    ~FdStreamBuf() override { sync(); }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool flushBuffer();
    int fd_;
    bool failed_ = false;
    char buffer_[4096];
};

class FdStream : public std::ostream {
public:
    explicit FdStream(int fd) : std::ostream(nullptr), buf_(fd) { rdbuf(&buf_); }

private:
    FdStreamBuf buf_;
};

}  // namespace TEV::Host::Cli
