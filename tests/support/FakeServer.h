// A scriptable fake of the local processing server, for tests.
//
// A real HTTP/1.1 server on 127.0.0.1 (raw sockets, keep-alive, one thread per
// connection) that records every request it receives and answers it by, in
// this order of precedence:
//   1. a one-shot answer queued with pushAnswer() for the request's method;
//   2. a misbehaviour set with misbehave() for the next N requests;
//   3. a handler set with setHandler() for the method (or for all methods);
//   4. the built-in job model (JobScript on the shared JobModel):
//      "call_plugin" / "ui" answered at once or queued, "get_result" /
//      "get_progress" / "abort_request" on the queued jobs, anything else
//      answered {"ok": true}. The model runs with the faults results_repeat
//      and abort_ignored: a job stays known after its result and its abort,
//      so that tests can poll it again and read the aborts it received.
// Misbehaviours are named so that a test says which fault it exercises.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "JobModel.h"
#include "TEV.h"

namespace TEV {
namespace Test {

// The build's fixed server port: the client has no port setter, so a fake
// server that a client should reach listens here.
extern const int kServerPort;
// The build's fixed maker folder (server install, runtime, Logs).
extern const char* const kMakerFolder;
// The build tree. Tests that write into the maker folder refuse to run when
// it lies outside, so that they never touch a real install.
extern const char* const kBuildDir;
// A small program that, started as the server runtime, prints what it was
// given: its arguments, environment, working directory, process group and
// open descriptors (see fake_runtime.cpp).
extern const char* const kFakeRuntime;

// A close-on-exec TCP socket listening on 127.0.0.1:port (0 picks a free
// port) with SO_REUSEADDR; `bound_port`, when given, receives the port.
// Throws std::runtime_error naming `who`, the port and the reason.
int listenOnLoopback(const char* who, int port, int backlog, int* bound_port = nullptr);

enum class Misbehaviour {
    none,
    http_500,              // status 500; the body is the regular answer's encoding
    http_404,              // status 404, a text body
    empty_body,            // status 200, no body at all
    truncated_body,        // status 200, the regular answer cut in half
    garbage_body,          // status 200, bytes that are not MessagePack
    trailing_bytes,        // status 200, the regular answer followed by junk bytes
    never_answer,          // reads the request and says nothing until the server stops
    slow_answer,           // waits Answer::delay (slowDelay() by default), then answers
    reset_mid_reply,       // headers and half the body, then a TCP reset
    close_after_headers,   // headers announcing a body, then the connection closes
    close_without_answer,  // reads the request, closes the connection
    huge_content_length,   // announces a 1 TiB body, sends a few bytes, closes
    oversized_chunked,     // a chunked body of oversizeBytes() bytes, no length announced
    huge_array_header,     // an array header claiming 2^32-1 elements and two bytes
    huge_string_header,    // a str header claiming 2^32-1 bytes and two bytes
    deep_nesting,          // 100000 nested one-element arrays
    wrong_kinds,           // the method's reply entries with the wrong kinds (see FakeServer.cpp)
    close_after_answer,    // the regular answer, then the connection closes (no keep-alive)
};

// The misbehaviour's name as written above.
const char* name(Misbehaviour m);

// One request as the server received it.
struct ReceivedRequest {
    std::size_t index = 0;        // 0, 1, ... in order of arrival
    int connection = 0;           // 1, 2, ... in order of acceptance
    std::string http_method;      // "POST"
    std::string target;           // "/api"
    std::vector<std::pair<std::string, std::string>> headers;  // as sent, in order
    std::size_t body_size = 0;
    std::string body;             // raw body, kept only with keepBodies(true)
    bool decoded = false;         // the body was one valid MessagePack object
    Dict message;                 // the decoded body; Null when not decoded
    std::string method;           // message "method" when a String, else ""
    std::chrono::steady_clock::time_point arrived;  // when the whole request was in

    // Value of the first header named `name` (case-insensitive); "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

// What the server sends back for one request.
struct Answer {
    int status = 200;
    Dict body;                           // sent MessagePack-encoded ...
    std::optional<std::string> raw;      // ... unless raw bytes are given
    Misbehaviour misbehaviour = Misbehaviour::none;
    std::chrono::milliseconds delay{0};  // waited before answering (any answer)

    static Answer result(Dict value);    // {"result": value}
    static Answer queued();              // {"status": "queued"}
    static Answer error(const std::string& text);  // {"error": text}
    static Answer bytes(std::string raw_body, int status = 200);
    static Answer misbehave(Misbehaviour m);
};

// How the built-in job model runs "call_plugin" and "ui" messages.
struct JobScript {
    // The job's result, from the call message; empty: the call's "args".
    std::function<Dict(const Dict& call)> result;
    bool queued = false;                   // false: answer {"result": ...} at once
    int pending_polls = 0;                 // "get_result" polls answered "pending" first
    std::chrono::milliseconds run_time{0};  // and pending until this long after the call
    bool never_finishes = false;
    // Successive "progress" values of "get_progress" (the last one repeats);
    // empty: answered {"result": {}}.
    std::vector<Dict> progress;
    std::string call_error;      // non-empty: the call is answered {"error": text}
    std::string poll_error;      // non-empty: every "get_result" is answered {"error": text}
    std::string progress_error;  // non-empty: every "get_progress" is answered {"error": text}
};

class FakeServer {
public:
    using Handler = std::function<Answer(const ReceivedRequest&)>;

    // Listens on 127.0.0.1:port (0: a free port); throws std::runtime_error
    // when it can't.
    explicit FakeServer(int port = kServerPort);
    // Stops: stalled answers are released, connections closed, threads joined.
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    // The port it listens on.
    int port() const { return port_; }

    // ---- script ----
    void setJobScript(JobScript script);
    // Answers every request of `method` ("": of any method without a handler of its own).
    void setHandler(const std::string& method, Handler handler);
    // One-shot answers for `method` ("" matches any method), used in order.
    void pushAnswer(const std::string& method, Answer answer);
    // The next `count` requests (any method; -1: all from now on) misbehave.
    void misbehave(Misbehaviour m, int count = -1);
    void setSlowDelay(std::chrono::milliseconds delay);
    void setOversizeBytes(std::size_t bytes);
    void keepBodies(bool keep);

    // ---- what was received ----
    std::vector<ReceivedRequest> requests() const;
    std::vector<ReceivedRequest> requests(const std::string& method) const;
    std::size_t requestCount() const;
    // Waits until at least `count` requests were received; false on time-out.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    int connectionsAccepted() const;
    // Identifiers named by "abort_request" messages, in order.
    std::vector<std::string> abortedJobs() const;
    void clearRecords();

    // Lets never_answer connections go (they are closed without a reply).
    void releaseStalled();
    // Stops listening and closes every connection; the destructor calls it.
    void stop();

private:
    void acceptLoop();
    void serveConnection(int fd, int number);
    Answer decide(const ReceivedRequest& request);
    Answer jobModel(const ReceivedRequest& request);
    // Sends `answer` for `request`; false when the connection must close.
    bool deliver(int fd, const ReceivedRequest& request, Answer answer);
    // Waits up to `delay`; false when the server is stopping.
    bool pause(std::chrono::milliseconds delay);

    int listen_fd_ = -1;
    int port_ = 0;
    int wake_pipe_[2] = {-1, -1};
    std::thread acceptor_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    bool release_stalled_ = false;
    std::vector<std::thread> connection_threads_;
    std::set<int> open_fds_;
    int connections_ = 0;

    std::vector<ReceivedRequest> received_;
    std::map<std::string, std::deque<Answer>> one_shot_;
    std::map<std::string, Handler> handlers_;
    Misbehaviour misbehaviour_ = Misbehaviour::none;
    int misbehaviour_count_ = 0;
    JobScript script_;
    JobModel jobs_{{JobFault::results_repeat, JobFault::abort_ignored}};
    std::chrono::milliseconds slow_delay_{1500};
    std::size_t oversize_bytes_ = 4 * 1024 * 1024;
    bool keep_bodies_ = false;
};

}  // namespace Test
}  // namespace TEV
