// The fake processing server: sockets, HTTP framing, the script and the
// misbehaviours.
#include "FakeServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace TEV {
namespace Test {

namespace {

using Clock = std::chrono::steady_clock;

// How a connection goes on after a request.
enum class After { keep, close };

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string encode(const Dict& d) {
    const msgpack::sbuffer buffer = encode_message(d, 256);
    return std::string(buffer.data(), buffer.size());
}

Dict map(std::initializer_list<std::pair<const std::string, Dict>> entries) {
    return Dict(std::map<std::string, Dict>(entries));
}

const char* reason(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 413: return "Content Too Large";
        case 417: return "Expectation Failed";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

std::string statusHead(int status, const std::string& extra_headers) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
           "\r\nContent-Type: application/x-msgpack\r\n" + extra_headers + "\r\n";
}

std::string lengthHeader(std::size_t n) { return "Content-Length: " + std::to_string(n) + "\r\n"; }

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool sendAll(int fd, const std::string& s) { return sendAll(fd, s.data(), s.size()); }

bool sendResponse(int fd, int status, const std::string& body) {
    return sendAll(fd, statusHead(status, lengthHeader(body.size())) + body);
}

}  // namespace

const char* name(Misbehaviour m) {
    switch (m) {
        case Misbehaviour::none: return "none";
        case Misbehaviour::http_500: return "http_500";
        case Misbehaviour::http_404: return "http_404";
        case Misbehaviour::empty_body: return "empty_body";
        case Misbehaviour::truncated_body: return "truncated_body";
        case Misbehaviour::garbage_body: return "garbage_body";
        case Misbehaviour::trailing_bytes: return "trailing_bytes";
        case Misbehaviour::never_answer: return "never_answer";
        case Misbehaviour::slow_answer: return "slow_answer";
        case Misbehaviour::reset_mid_reply: return "reset_mid_reply";
        case Misbehaviour::close_after_headers: return "close_after_headers";
        case Misbehaviour::close_without_answer: return "close_without_answer";
        case Misbehaviour::huge_content_length: return "huge_content_length";
        case Misbehaviour::oversized_chunked: return "oversized_chunked";
        case Misbehaviour::huge_array_header: return "huge_array_header";
        case Misbehaviour::huge_string_header: return "huge_string_header";
        case Misbehaviour::deep_nesting: return "deep_nesting";
        case Misbehaviour::wrong_kinds: return "wrong_kinds";
        case Misbehaviour::close_after_answer: return "close_after_answer";
    }
    return "unknown";
}

// ---- ReceivedRequest and Answer ---------------------------------------------

std::string ReceivedRequest::header(const std::string& name) const {
    const std::string wanted = lower(name);
    for (const auto& h : headers)
        if (lower(h.first) == wanted) return h.second;
    return "";
}

bool ReceivedRequest::hasHeader(const std::string& name) const {
    const std::string wanted = lower(name);
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return lower(h.first) == wanted; });
}

Answer Answer::result(Dict value) {
    Answer a;
    a.body["result"] = std::move(value);
    return a;
}

Answer Answer::queued() {
    Answer a;
    a.body["status"] = "queued";
    return a;
}

Answer Answer::error(const std::string& text) {
    Answer a;
    a.body["error"] = text;
    return a;
}

Answer Answer::bytes(std::string raw_body, int status) {
    Answer a;
    a.status = status;
    a.raw = std::move(raw_body);
    return a;
}

Answer Answer::misbehave(Misbehaviour m) {
    Answer a;
    a.misbehaviour = m;
    return a;
}

// ---- life cycle -------------------------------------------------------------

int listenOnLoopback(const char* who, int port, int backlog, int* bound_port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error(std::string(who) + ": socket failed: " + std::strerror(errno));
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const std::string why = std::strerror(errno);
        close(fd);
        throw std::runtime_error(std::string(who) + ": can't listen on 127.0.0.1:" + std::to_string(port) + ": " +
                                 why);
    }
    if (bound_port) *bound_port = ntohs(address.sin_port);
    return fd;
}

FakeServer::FakeServer(int port) {
    if (pipe2(wake_pipe_, O_CLOEXEC) != 0) throw std::runtime_error("FakeServer: pipe2 failed");
    try {
        listen_fd_ = listenOnLoopback("FakeServer", port, 64, &port_);
    } catch (...) {
        close(wake_pipe_[0]);
        close(wake_pipe_[1]);
        throw;
    }
    acceptor_ = std::thread([this] { acceptLoop(); });
}

FakeServer::~FakeServer() { stop(); }

void FakeServer::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        for (int fd : open_fds_) shutdown(fd, SHUT_RDWR);  // wakes blocked sends and reads
    }
    changed_.notify_all();
    const char byte = 1;
    (void)!write(wake_pipe_[1], &byte, 1);  // stays readable: wakes every poll
    acceptor_.join();
    close(listen_fd_);
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(connection_threads_);
    }
    for (std::thread& t : threads) t.join();
    close(wake_pipe_[0]);
    close(wake_pipe_[1]);
}

void FakeServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            close(fd);
            return;
        }
        open_fds_.insert(fd);
        const int number = ++connections_;
        connection_threads_.emplace_back([this, fd, number] { serveConnection(fd, number); });
    }
}

// ---- one connection ---------------------------------------------------------

void FakeServer::serveConnection(int fd, int number) {
    std::string buffer;
    // Reads more bytes into `buffer`; false at end of stream or on stop.
    auto readMore = [&]() -> bool {
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (fds[1].revents != 0) return false;
            char chunk[65536];
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            buffer.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
    };

    After after = After::keep;
    while (after == After::keep) {
        std::size_t header_end;
        while ((header_end = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > (1u << 20) || !readMore()) {
                after = After::close;
                break;
            }
        }
        if (after != After::keep) break;

        ReceivedRequest request;
        request.connection = number;
        {
            const std::string head = buffer.substr(0, header_end);
            std::size_t line_end = head.find("\r\n");
            const std::string request_line = head.substr(0, line_end);
            const auto sp1 = request_line.find(' ');
            const auto sp2 = request_line.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
            request.http_method = request_line.substr(0, sp1);
            if (sp1 != std::string::npos) request.target = request_line.substr(sp1 + 1, sp2 - sp1 - 1);
            while (line_end != std::string::npos && line_end < head.size()) {
                const std::size_t start = line_end + 2;
                line_end = head.find("\r\n", start);
                const std::string line = head.substr(start, line_end == std::string::npos ? std::string::npos : line_end - start);
                const auto colon = line.find(':');
                if (colon != std::string::npos)
                    request.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
            }
        }
        buffer.erase(0, header_end + 4);

        std::size_t length = 0;
        const std::string length_text = request.header("Content-Length");
        if (!length_text.empty()) length = std::stoull(length_text);
        if (lower(request.header("Transfer-Encoding")).find("chunked") != std::string::npos) {
            sendResponse(fd, 400, "chunked requests are not supported");
            break;
        }
        if (lower(request.header("Expect")) == "100-continue") sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
        buffer.reserve(length);
        while (buffer.size() < length) {
            if (!readMore()) {
                after = After::close;
                break;
            }
        }
        if (after != After::keep) break;

        request.body_size = length;
        try {
            request.message = decode_message(buffer.data(), length);
            request.decoded = true;
        } catch (...) {
            request.message = Dict();
        }
        request.method = request.message.getString("method", "");
        request.arrived = Clock::now();
        bool keep_body;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            request.index = received_.size();
            keep_body = keep_bodies_;
        }
        if (keep_body) request.body = buffer.substr(0, length);
        buffer.erase(0, length);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(request);
        }
        changed_.notify_all();

        const bool client_closes = lower(request.header("Connection")) == "close";
        if (!deliver(fd, request, decide(request))) {
            after = After::close;
        } else if (client_closes) {
            after = After::close;
        }
        // A reset_mid_reply answer set a zero linger time: the close resets.
    }

    std::lock_guard<std::mutex> lock(mutex_);
    open_fds_.erase(fd);
    close(fd);
}

// ---- answers ----------------------------------------------------------------

Answer FakeServer::decide(const ReceivedRequest& request) {
    Misbehaviour misbehaviour = Misbehaviour::none;
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& key : {request.method, std::string()}) {
            auto it = one_shot_.find(key);
            if (it != one_shot_.end() && !it->second.empty()) {
                Answer answer = std::move(it->second.front());
                it->second.pop_front();
                return answer;
            }
        }
        if (misbehaviour_count_ != 0) {
            misbehaviour = misbehaviour_;
            if (misbehaviour_count_ > 0) --misbehaviour_count_;
        }
        auto h = handlers_.find(request.method);
        if (h == handlers_.end()) h = handlers_.find("");
        if (h != handlers_.end()) handler = h->second;
    }
    Answer answer = handler ? handler(request) : jobModel(request);
    if (misbehaviour != Misbehaviour::none) answer.misbehaviour = misbehaviour;
    return answer;
}

Answer FakeServer::jobModel(const ReceivedRequest& request) {
    const Dict& message = request.message;
    const std::string& method = request.method;
    Answer answer;
    if (method == "call_plugin" || method == "ui") {
        JobScript script;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            script = script_;
        }
        if (!script.call_error.empty()) return Answer::error(script.call_error);
        Dict value = script.result ? script.result(message) : message.get("args");
        if (!script.queued) return Answer::result(std::move(value));
        JobPlan plan;
        plan.result = std::move(value);
        plan.run_time = script.run_time;
        plan.pending_polls = script.pending_polls;
        plan.never_finishes = script.never_finishes;
        plan.progress = std::move(script.progress);
        plan.progress_error = std::move(script.progress_error);
        plan.poll_error = std::move(script.poll_error);
        answer.body = jobs_.queue(message, std::move(plan));
    } else if (method == "get_result") {
        answer.body = jobs_.poll(message);
    } else if (method == "get_progress") {
        answer.body = jobs_.progress(message);
    } else if (method == "abort_request") {
        answer.body = jobs_.abort(message);
    } else {
        return Answer::result(map({{"ok", true}}));
    }
    return answer;
}

bool FakeServer::pause(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, delay, [this] { return stopping_; });
    return !stopping_;
}

bool FakeServer::deliver(int fd, const ReceivedRequest& request, Answer answer) {
    if (answer.delay.count() > 0 && !pause(answer.delay)) return false;
    const std::string regular = answer.raw ? *answer.raw : encode(answer.body);

    switch (answer.misbehaviour) {
        case Misbehaviour::none:
            return sendResponse(fd, answer.status, regular);
        case Misbehaviour::http_500:
            return sendResponse(fd, 500, regular);
        case Misbehaviour::close_after_answer:
            sendResponse(fd, answer.status, regular);
            return false;
        case Misbehaviour::http_404:
            return sendResponse(fd, 404, "no such endpoint");
        case Misbehaviour::empty_body:
            return sendResponse(fd, 200, "");
        case Misbehaviour::truncated_body:
            return sendResponse(fd, 200, regular.substr(0, regular.size() / 2));
        case Misbehaviour::garbage_body:
            return sendResponse(fd, 200, "\xc1 this is not MessagePack");
        case Misbehaviour::trailing_bytes:
            return sendResponse(fd, 200, regular + "\x01\x02\x03 trailing junk");
        case Misbehaviour::never_answer: {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || release_stalled_; });
            return false;
        }
        case Misbehaviour::slow_answer: {
            std::chrono::milliseconds delay;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                delay = slow_delay_;
            }
            // An answer with its own delay has waited already.
            if (answer.delay.count() == 0 && !pause(delay)) return false;
            return sendResponse(fd, answer.status, regular);
        }
        case Misbehaviour::reset_mid_reply: {
            sendAll(fd, statusHead(200, lengthHeader(regular.size())) + regular.substr(0, regular.size() / 2));
            const linger abortive{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            return false;
        }
        case Misbehaviour::close_after_headers:
            sendAll(fd, statusHead(200, lengthHeader(regular.size())));
            return false;
        case Misbehaviour::close_without_answer:
            return false;
        case Misbehaviour::huge_content_length:
            sendAll(fd, statusHead(200, lengthHeader(std::size_t(1) << 40)) + std::string(16, '\0'));
            return false;
        case Misbehaviour::oversized_chunked: {
            if (!sendAll(fd, statusHead(200, "Transfer-Encoding: chunked\r\n"))) return false;
            std::size_t left;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                left = oversize_bytes_;
            }
            const std::string piece(65536, 'x');
            while (left > 0) {
                const std::size_t n = std::min(left, piece.size());
                char size_line[32];
                std::snprintf(size_line, sizeof size_line, "%zx\r\n", n);
                if (!sendAll(fd, size_line) || !sendAll(fd, piece.data(), n) || !sendAll(fd, "\r\n")) return false;
                left -= n;
            }
            return sendAll(fd, "0\r\n\r\n");
        }
        case Misbehaviour::huge_array_header:
            return sendResponse(fd, 200, std::string("\xdd\xff\xff\xff\xff\x01\x02", 7));
        case Misbehaviour::huge_string_header:
            return sendResponse(fd, 200, std::string("\xdb\xff\xff\xff\xff" "ab", 7));
        case Misbehaviour::deep_nesting:
            return sendResponse(fd, 200, std::string(100000, '\x91') + '\xc0');
        case Misbehaviour::wrong_kinds: {
            // Entries the client reads, each of a kind it does not expect.
            Dict body;
            body["error"] = 42;
            if (request.method == "get_result") {
                body["result"] = Dict(std::vector<Dict>{Dict("no_result_found")});
            } else if (request.method == "get_progress") {
                body["result"] = map({{"progress", 42.5}});
            } else {
                body["status"] = 1;
            }
            return sendResponse(fd, 200, encode(body));
        }
    }
    return false;
}

// ---- script and records -----------------------------------------------------

void FakeServer::setJobScript(JobScript script) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(script);
}

void FakeServer::setHandler(const std::string& method, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[method] = std::move(handler);
}

void FakeServer::pushAnswer(const std::string& method, Answer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    one_shot_[method].push_back(std::move(answer));
}

void FakeServer::misbehave(Misbehaviour m, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    misbehaviour_ = m;
    misbehaviour_count_ = m == Misbehaviour::none ? 0 : count;
}

void FakeServer::setSlowDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    slow_delay_ = delay;
}

void FakeServer::setOversizeBytes(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    oversize_bytes_ = bytes;
}

void FakeServer::keepBodies(bool keep) {
    std::lock_guard<std::mutex> lock(mutex_);
    keep_bodies_ = keep;
}

std::vector<ReceivedRequest> FakeServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::vector<ReceivedRequest> FakeServer::requests(const std::string& method) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ReceivedRequest> matching;
    for (const ReceivedRequest& r : received_)
        if (r.method == method) matching.push_back(r);
    return matching;
}

std::size_t FakeServer::requestCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
}

bool FakeServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

int FakeServer::connectionsAccepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

std::vector<std::string> FakeServer::abortedJobs() const { return jobs_.aborted(); }

void FakeServer::clearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
    jobs_.forgetAborted();
}

void FakeServer::releaseStalled() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        release_stalled_ = true;
    }
    changed_.notify_all();
}

}  // namespace Test
}  // namespace TEV
