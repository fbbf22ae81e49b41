#include "run/FdStream.h"

#include <unistd.h>

#include <cerrno>
#include <climits>

namespace TEV::Host::Cli {

FdStreamBuf::~FdStreamBuf() {
    sync();
    if (owns_ && fd_ >= 0) ::close(fd_);
}

bool FdStreamBuf::flushBuffer() {
    const char* p = pbase();
    while (error_ == 0 && p < pptr()) {
        const ssize_t n = write(fd_, p, static_cast<std::size_t>(pptr() - p));
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) {
            p += n;
        } else {
            error_ = n < 0 ? errno : EIO;
        }
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return error_ == 0;
}

bool FdStreamBuf::close() {
    const bool flushed = flushBuffer();
    if (!owns_ || fd_ < 0) return flushed;
    // close() reports what a network file system could not store.
    if (::close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
    return error_ == 0;
}

FdStreamBuf::int_type FdStreamBuf::overflow(int_type c) {
    if (!flushBuffer()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int FdStreamBuf::sync() { return flushBuffer() ? 0 : -1; }

FdStream::FdStream(int fd, std::string name, bool owns)
    : std::ostream(nullptr), buf_(fd, owns), name_(std::move(name)) {
    rdbuf(&buf_);
}

bool FdStream::close() {
    if (!buf_.close()) setstate(std::ios::badbit);
    return !fail();
}

int writeErrorOf(const std::ostream& stream) {
    if (!stream.fail()) return 0;
    if (const auto* fd_stream = dynamic_cast<const FdStream*>(&stream)) {
        if (fd_stream->error() != 0) return fd_stream->error();
    }
    return EPIPE;
}

std::string streamName(const std::ostream& stream) {
    const auto* fd_stream = dynamic_cast<const FdStream*>(&stream);
    return fd_stream ? fd_stream->name() : "standard output";
}

std::string describeDescriptor(int fd, const std::string& what) {
    char target[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    // Only a file's path helps the reader; "pipe:[1234]" does not.
    if (n <= 0 || target[0] != '/') return what;
    return what + " (" + std::string(target, static_cast<std::size_t>(n)) + ")";
}

}  // namespace TEV::Host::Cli
