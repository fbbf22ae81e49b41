#include "FdStream.h"

#include <unistd.h>

#include <cerrno>

namespace TEV::Host::Cli {

bool FdStreamBuf::flushBuffer() {
    const char* p = pbase();
    while (!failed_ && p < pptr()) {
        const ssize_t n = write(fd_, p, static_cast<std::size_t>(pptr() - p));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) failed_ = true;
        else p += n;
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return !failed_;
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

}  // namespace TEV::Host::Cli
