// tev_bench_server: the minimal processing server of the benchmarks.
//
//   tev_bench_server --port N [--queued-ms M] [--touch]
//
// --touch inverts the first pixel sample of every image it answers with, so
// that frames come back processed (not unchanged) at no cost of its own.
//
// Without --queued-ms every "call_plugin" is answered at once with the image
// it carried: {"result": {"result": {"image": <the received image>}}}, the
// image's bytes sent straight from the received body (no copy of its own;
// the kernel's socket copies are the only ones). With --queued-ms every call
// is queued and finishes M ms after it arrived; "get_result" answers the
// pending marker until then and the image afterwards, "get_progress" the
// elapsed share, "abort_request" drops the job. "bench_stats" returns and
// resets the pickup delays (the time from a job's finish to the "get_result"
// that took it) and the number of requests by method:
// {"result": {"count", "mean_us", "max_us", "calls", "polls", "progress"}}.
//
// One thread per connection; HTTP/1.1 with keep-alive and Content-Length
// bodies, which is all that libcurl's POSTs need.
//
// Why its own job model and not the tests' (tests/support/JobModel): this
// server measures what the transport costs, so it must add nothing to it.
// It links neither the client library nor gtest, never decodes a frame into a
// tree (it scans the MessagePack for the few entries it needs and sends the
// image's bytes from the received body), and its one scripted behaviour is a
// fixed queue time. The tests' model keeps frames as trees, copies results and
// carries faults; behind it the benchmark would time the fake, not the link.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <msgpack.hpp>

#include "MsgpackScan.h"

namespace {

using namespace TEV::Bench;
using Clock = std::chrono::steady_clock;

// A request body, owned by the connection or, once queued, by its job.
struct Body {
    std::unique_ptr<char[]> bytes;
    std::size_t capacity = 0;
    std::size_t size = 0;

    void reserve(std::size_t n) {
        if (n <= capacity) return;
        bytes.reset(new char[n]);  // not value-initialised: the socket fills it
        capacity = n;
    }
    Span span() const { return {bytes.get(), size}; }
};

struct Job {
    Body body;
    Span image;
    Clock::time_point arrived;
    Clock::time_point finish;
};

struct Stats {
    long count = 0;
    double sum_us = 0;
    double max_us = 0;
    long calls = 0, polls = 0, progress = 0;
};

int g_queued_ms = -1;  // -1: answer at once
bool g_touch = false;   // --touch
std::mutex g_jobs_mutex;
std::map<std::string, Job> g_jobs;
Stats g_stats;

bool sendAll(int fd, iovec* parts, int count) {
    while (count > 0) {
        const ssize_t sent = ::writev(fd, parts, count);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        std::size_t left = static_cast<std::size_t>(sent);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<char*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
    return true;
}

// Sends a 200 reply whose body is `head` followed by `tail` (may be empty).
bool reply(int fd, const msgpack::sbuffer& head, Span tail = {}) {
    const std::size_t length = head.size() + tail.size;
    char status[160];
    const int n = std::snprintf(status, sizeof status,
                                "HTTP/1.1 200 OK\r\nContent-Type: application/x-msgpack\r\n"
                                "Content-Length: %zu\r\n\r\n",
                                length);
    iovec parts[3] = {{status, static_cast<std::size_t>(n)},
                      {const_cast<char*>(head.data()), head.size()},
                      {const_cast<char*>(tail.data), tail.size}};
    return sendAll(fd, parts, tail.size ? 3 : 2);
}

void packStr(msgpack::packer<msgpack::sbuffer>& pk, const char* s) { pk.pack(std::string(s)); }

// {"result": {"result": {"image": ...}}} up to the image, which follows.
msgpack::sbuffer imageResultHead() {
    msgpack::sbuffer head;
    msgpack::packer<msgpack::sbuffer> pk(head);
    pk.pack_map(1);
    packStr(pk, "result");
    pk.pack_map(1);
    packStr(pk, "result");
    pk.pack_map(1);
    packStr(pk, "image");
    return head;
}

msgpack::sbuffer errorReply(const char* text) {
    msgpack::sbuffer head;
    msgpack::packer<msgpack::sbuffer> pk(head);
    pk.pack_map(1);
    packStr(pk, "error");
    packStr(pk, text);
    return head;
}

std::string strEntry(Span map, const char* key) {
    std::string_view text;
    return readStr(mapValue(map, key), text) ? std::string(text) : std::string();
}

// Answers one request; false when the connection should close.
bool answer(int fd, Body& body) {
    const Span message = firstObject(body.span());
    const std::string method = strEntry(message, "method");
    {
        std::lock_guard<std::mutex> lock(g_jobs_mutex);
        if (method == "call_plugin") ++g_stats.calls;
        if (method == "get_result") ++g_stats.polls;
        if (method == "get_progress") ++g_stats.progress;
    }
    if (method == "call_plugin") {
        const Span image = mapValue(mapValue(message, "args"), "image");
        if (!image) return reply(fd, errorReply("the call carries no image"));
        Span pixels;
        if (g_touch && readBin(mapValue(image, "pixels"), pixels) && pixels.size) {
            char* first = const_cast<char*>(pixels.data);  // inside the connection's own body buffer
            *first = static_cast<char>(~*first);
        }
        if (g_queued_ms < 0) return reply(fd, imageResultHead(), image);
        Job job;
        job.arrived = Clock::now();
        job.finish = job.arrived + std::chrono::milliseconds(g_queued_ms);
        job.image = image;
        job.body = std::move(body);  // the connection takes a new buffer
        body = Body();
        {
            std::lock_guard<std::mutex> lock(g_jobs_mutex);
            g_jobs[strEntry(message, "request_id")] = std::move(job);
        }
        msgpack::sbuffer head;
        msgpack::packer<msgpack::sbuffer> pk(head);
        pk.pack_map(1);
        packStr(pk, "status");
        packStr(pk, "queued");
        return reply(fd, head);
    }
    if (method == "get_result") {
        const std::string id = strEntry(message, "for_request_id");
        Job done;
        bool finished = false;
        {
            std::lock_guard<std::mutex> lock(g_jobs_mutex);
            auto it = g_jobs.find(id);
            const Clock::time_point now = Clock::now();
            if (it != g_jobs.end() && now >= it->second.finish) {
                done = std::move(it->second);
                g_jobs.erase(it);
                finished = true;
                const double us = std::chrono::duration<double, std::micro>(now - done.finish).count();
                ++g_stats.count;
                g_stats.sum_us += us;
                g_stats.max_us = std::max(g_stats.max_us, us);
            }
        }
        if (finished) return reply(fd, imageResultHead(), done.image);
        msgpack::sbuffer head;
        msgpack::packer<msgpack::sbuffer> pk(head);
        pk.pack_map(1);
        packStr(pk, "result");
        pk.pack_map(1);
        packStr(pk, "result");
        packStr(pk, "no_result_found");
        return reply(fd, head);
    }
    if (method == "get_progress") {
        long percent = 0;
        {
            std::lock_guard<std::mutex> lock(g_jobs_mutex);
            auto it = g_jobs.find(strEntry(message, "for_request_id"));
            if (it != g_jobs.end() && g_queued_ms > 0) {
                const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                                          it->second.arrived);
                percent = std::min<long>(99, elapsed.count() * 100 / g_queued_ms);
            }
        }
        msgpack::sbuffer head;
        msgpack::packer<msgpack::sbuffer> pk(head);
        pk.pack_map(1);
        packStr(pk, "result");
        pk.pack_map(1);
        packStr(pk, "progress");
        pk.pack(percent);
        return reply(fd, head);
    }
    if (method == "abort_request") {
        {
            std::lock_guard<std::mutex> lock(g_jobs_mutex);
            g_jobs.erase(strEntry(message, "request_id"));
        }
        msgpack::sbuffer head;
        msgpack::packer<msgpack::sbuffer> pk(head);
        pk.pack_map(0);
        return reply(fd, head);
    }
    if (method == "bench_stats") {
        Stats s;
        {
            std::lock_guard<std::mutex> lock(g_jobs_mutex);
            s = g_stats;
            g_stats = Stats();
        }
        msgpack::sbuffer head;
        msgpack::packer<msgpack::sbuffer> pk(head);
        pk.pack_map(1);
        packStr(pk, "result");
        pk.pack_map(6);
        packStr(pk, "calls");
        pk.pack(s.calls);
        packStr(pk, "polls");
        pk.pack(s.polls);
        packStr(pk, "progress");
        pk.pack(s.progress);
        packStr(pk, "count");
        pk.pack(s.count);
        packStr(pk, "mean_us");
        pk.pack_double(s.count ? s.sum_us / s.count : 0.0);
        packStr(pk, "max_us");
        pk.pack_double(s.max_us);
        return reply(fd, head);
    }
    return reply(fd, errorReply(("unknown method: " + method).c_str()));
}

bool iequalsPrefix(const char* line, const char* name) {
    for (; *name; ++line, ++name)
        if (std::tolower(static_cast<unsigned char>(*line)) != *name) return false;
    return true;
}

// Serves one connection until the client closes it.
void serve(int fd) {
    Body body;
    std::string pending;  // bytes read past the last request's headers
    char chunk[8192];
    for (;;) {
        std::size_t header_end;
        while ((header_end = pending.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                ::close(fd);
                return;
            }
            pending.append(chunk, static_cast<std::size_t>(n));
        }
        std::size_t length = 0;
        bool expect_continue = false;
        for (std::size_t at = pending.find("\r\n") + 2; at < header_end;) {
            const std::size_t eol = pending.find("\r\n", at);
            const char* line = pending.c_str() + at;
            if (iequalsPrefix(line, "content-length:")) length = std::strtoull(line + 15, nullptr, 10);
            if (iequalsPrefix(line, "expect: 100-continue")) expect_continue = true;
            at = eol + 2;
        }
        if (expect_continue) {
            static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            iovec part{const_cast<char*>(kContinue), sizeof kContinue - 1};
            if (!sendAll(fd, &part, 1)) break;
        }
        body.reserve(length);
        body.size = length;
        const std::size_t have = std::min(length, pending.size() - header_end - 4);
        std::memcpy(body.bytes.get(), pending.data() + header_end + 4, have);
        pending.erase(0, header_end + 4 + have);
        for (std::size_t got = have; got < length;) {
            const ssize_t n = ::recv(fd, body.bytes.get() + got, length - got, 0);
            if (n <= 0) {
                ::close(fd);
                return;
            }
            got += static_cast<std::size_t>(n);
        }
        if (!answer(fd, body)) break;
    }
    ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--touch") == 0) g_touch = true;
        if (i + 1 >= argc) continue;
        if (std::strcmp(argv[i], "--port") == 0) port = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--queued-ms") == 0) g_queued_ms = std::atoi(argv[++i]);
    }
    if (port <= 0) {
        std::fprintf(stderr, "usage: tev_bench_server --port N [--queued-ms M]\n");
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0) {
        std::fprintf(stderr, "tev_bench_server: cannot listen on 127.0.0.1:%d: %s\n", port, std::strerror(errno));
        return 1;
    }
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::thread(serve, fd).detach();
    }
}
