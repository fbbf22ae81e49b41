// An output stream over a file descriptor that keeps the reason of a failed
// write. A closed pipe shows as EPIPE (SIGPIPE is ignored while a render
// runs); a full disk as ENOSPC. The stream's badbit is set on the first
// failure, which the render checks after each line.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace TEV::Host::Cli {

class FdStreamBuf : public std::streambuf {
public:
    // `owns`: close() and the destructor close `fd`.
    FdStreamBuf(int fd, bool owns) : fd_(fd), owns_(owns) { setp(buffer_, buffer_ + sizeof buffer_); }
    ~FdStreamBuf() override;

    // The errno of the first failed write (or close), 0 while none failed.
    int error() const { return error_; }
    // Flushes and closes an owned descriptor; false (error() set) when either fails.
    bool close();

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool flushBuffer();
    int fd_;
    bool owns_;
    int error_ = 0;
    char buffer_[4096];
};

class FdStream : public std::ostream {
public:
    // `name` says where the stream goes, for messages: "standard output (/dev/full)".
    FdStream(int fd, std::string name, bool owns = false);

    int error() const { return buf_.error(); }
    const std::string& name() const { return name_; }
    // Flushes and closes an owned descriptor; false when that fails (badbit set).
    bool close();

private:
    FdStreamBuf buf_;
    std::string name_;
};

// The errno of a failed stream: an FdStream's own, EPIPE for any other stream
// that failed (taken as a closed output), 0 for a stream that did not fail.
int writeErrorOf(const std::ostream& stream);

// Where `stream` goes, for messages: an FdStream's name, else "standard output".
std::string streamName(const std::ostream& stream);

// "standard output (/dev/full)": `what`, and the file that descriptor `fd` is
// open on when the system can tell.
std::string describeDescriptor(int fd, const std::string& what);

}  // namespace TEV::Host::Cli
