// Standard output taken over while checks run: the server link's lines are
// kept per thread and echoed on request.
#include "ClientLines.h"

#include <iostream>
#include <mutex>
#include <streambuf>

namespace TEV {
namespace Conform {

namespace {

thread_local std::string t_partial;  // the line being written
thread_local std::string t_last;     // the latest whole line

const std::string kPrefix = "[TEV] ";

}  // namespace

// Unbuffered: every write arrives here at once, so that lines of different
// threads are taken apart by the thread that wrote them.
class ClientLines::Sink : public std::streambuf {
public:
    explicit Sink(std::ostream* echo) : echo_(echo) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        xsputn(&ch, 1);
        return c;
    }

    std::streamsize xsputn(const char* s, std::streamsize n) override {
        for (std::streamsize i = 0; i < n; ++i) {
            if (s[i] != '\n') {
                t_partial += s[i];
                continue;
            }
            t_last = t_partial.compare(0, kPrefix.size(), kPrefix) == 0 ? t_partial.substr(kPrefix.size())
                                                                         : t_partial;
            if (echo_) {
                std::lock_guard<std::mutex> lock(echo_mutex_);
                *echo_ << t_partial << '\n' << std::flush;
            }
            t_partial.clear();
        }
        return n;
    }

private:
    std::ostream* echo_;
    std::mutex echo_mutex_;
};

ClientLines::ClientLines(std::ostream* echo)
    : sink_(std::make_unique<Sink>(echo)), previous_(std::cout.rdbuf(sink_.get())) {}

ClientLines::~ClientLines() { std::cout.rdbuf(previous_); }

std::string ClientLines::lastOfThisThread() { return t_last; }

void ClientLines::forgetThisThread() { t_last.clear(); }

std::string lastAttemptFailure() {
    // "Cannot connect to TEV... (<detail>)", with or without "trying to start it".
    const std::string line = ClientLines::lastOfThisThread();
    const std::string::size_type open = line.find('(');
    if (line.compare(0, 14, "Cannot connect") != 0 || open == std::string::npos || line.back() != ')') return "";
    return line.substr(open + 1, line.size() - open - 2);
}

}  // namespace Conform
}  // namespace TEV
