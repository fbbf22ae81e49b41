// One exchange: envelope, encoding, attempts with pacing and a once-per-outage
// launch, decoding.
#include <algorithm>
#include <exception>
#include <new>
#include <thread>

#include "Diagnostics.h"
#include "RestClient.h"

namespace TEV {
namespace Rest {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxAttempts = 25;
// No attempt starts once more than this has passed since the exchange began.
constexpr auto kExchangeBudget = std::chrono::nanoseconds(4'999'999'999);
// Attempts start at most this often.
constexpr auto kAttemptSpacing = std::chrono::milliseconds(150);
// Loopback connects are immediate or refused; this only bounds a lost SYN.
constexpr long kConnectTimeoutSeconds = 3;
// libcurl's largest upload buffer: frames go out in few, large writes.
constexpr long kUploadBufferBytes = 2 * 1024 * 1024;
// Receive buffer: frames come in with few reads (libcurl's default is 16 KiB).
constexpr long kReceiveBufferBytes = 512 * 1024;

// The request's header list, freed however the attempt ends.
class HeaderList {
public:
    HeaderList() = default;
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;
    ~HeaderList() { curl_slist_free_all(list_); }

    void add(const char* header) {
        curl_slist* grown = curl_slist_append(list_, header);
        if (grown == nullptr) throw std::bad_alloc();
        list_ = grown;
    }
    curl_slist* get() const { return list_; }

private:
    curl_slist* list_ = nullptr;
};

// Where the reply body goes, with the size limit and any failure to report
// after the transfer (nothing may be thrown through libcurl).
struct ReplySink {
    ReceivedMessage* body = nullptr;
    CURL* handle = nullptr;
    std::uint64_t limit = 0;
    bool over_limit = false;
    std::exception_ptr error;
};

std::size_t receiveBody(char* data, std::size_t size, std::size_t nmemb, void* userdata) {
    auto* sink = static_cast<ReplySink*>(userdata);
    const std::size_t bytes = size * nmemb;
    try {
        if (sink->body->size() == 0) {
            // With the length announced, large bins take their whole size at once.
            curl_off_t announced = -1;
            if (curl_easy_getinfo(sink->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
                announced > 0 && static_cast<std::uint64_t>(announced) <= sink->limit)
                sink->body->expect(static_cast<std::size_t>(announced));
        }
        if (bytes > sink->limit - sink->body->size()) {
            sink->over_limit = true;
            return 0;  // aborts the transfer
        }
        sink->body->append(data, bytes);
        return bytes;
    } catch (...) {
        sink->error = std::current_exception();
        return 0;
    }
}

template <typename T>
void setOption(CURL* handle, CURLoption option, T value) {
    // Options are fixed and valid; a failure could only be an unknown option
    // of an older libcurl, which then keeps its default.
    (void)curl_easy_setopt(handle, option, value);
}

// A request body with referenced blocks, read by libcurl straight from where
// the blocks lie into its upload buffer.
struct BodyReader {
    const EncodedMessage* body;
    std::size_t offset = 0;
};

std::size_t readBody(char* out, std::size_t size, std::size_t nitems, void* userdata) {
    auto* reader = static_cast<BodyReader*>(userdata);
    const std::size_t n = reader->body->copy(reader->offset, out, size * nitems);
    reader->offset += n;
    return n;
}

// libcurl rewinds when it sends the body again on a fresh connection.
int seekBody(void* userdata, curl_off_t offset, int origin) {
    auto* reader = static_cast<BodyReader*>(userdata);
    if (origin != SEEK_SET || offset < 0 || static_cast<std::uint64_t>(offset) > reader->body->size())
        return CURL_SEEKFUNC_CANTSEEK;
    reader->offset = static_cast<std::size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

}  // namespace

void Client::addEnvelope(Dict& request) {
    if (request.type != Dict::Map || !request.contains("request_id")) request["request_id"] = generate_uuid();
    std::string id;
    std::string version;
    {
        std::lock_guard<std::mutex> lock(identity_mutex);
        id = plugin_id;
        version = plugin_version;
    }
    if (id.empty()) throw TEVErr(ParameterNotFound, "No Plugin ID", "");
    request["plugin_id"] = std::move(id);
    request["plugin_version"] = std::move(version);
    request["tev_lib_version"] = lib_version;
}

Client::Attempt Client::attempt(const EncodedMessage& body, ReceivedMessage& reply, std::string& failure,
                                Clock::time_point& started) {
    reply.clear();
    CURL* handle = curl_handle;
    curl_easy_reset(handle);  // keeps the connection cache: the next attempt may reuse the connection

    HeaderList headers;
    headers.add("Content-Type: application/x-msgpack");
    // libcurl would add "Expect: 100-continue" to bodies over 1 MB and then wait
    // up to a second for an interim answer that the server never sends.
    headers.add("Expect:");
    setOption(handle, CURLOPT_HTTPHEADER, headers.get());

    setOption(handle, CURLOPT_TCP_KEEPALIVE, 1L);
    setOption(handle, CURLOPT_FORBID_REUSE, 0L);
    setOption(handle, CURLOPT_FRESH_CONNECT, 0L);
    setOption(handle, CURLOPT_TCP_NODELAY, 1L);
    setOption(handle, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
    setOption(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    // The server is local: never route through a proxy from the environment.
    setOption(handle, CURLOPT_PROXY, "");
    // Timeouts without SIGALRM: the host renders on several threads.
    setOption(handle, CURLOPT_NOSIGNAL, 1L);
    // A server that accepts and then stalls must not hold the exchange (and,
    // through exchange_mutex, every render) forever: an attempt that moves no
    // byte for the render time-out fails like any transport error. libcurl
    // judges the speed over its last five seconds, so a stall is noticed
    // between render_timeout and render_timeout + 5 s after it began.
    setOption(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    setOption(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    setOption(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max(1, render_timeout.load())));

    const std::string url = get_endpoint();
    setOption(handle, CURLOPT_URL, url.c_str());
    // Posted in place: libcurl copies the body only into its upload buffer,
    // referenced blocks (frames) straight from where they lie.
    setOption(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    BodyReader reader{&body};
    if (body.splices.empty()) {
        setOption(handle, CURLOPT_POSTFIELDS, body.head.data());
    } else {
        setOption(handle, CURLOPT_POST, 1L);
        setOption(handle, CURLOPT_READFUNCTION, &readBody);
        setOption(handle, CURLOPT_READDATA, static_cast<void*>(&reader));
        setOption(handle, CURLOPT_SEEKFUNCTION, &seekBody);
        setOption(handle, CURLOPT_SEEKDATA, static_cast<void*>(&reader));
    }

    const std::uint64_t limit =
        std::min<std::uint64_t>(max_reply_bytes.load(), static_cast<std::uint64_t>(INT64_MAX));
    ReplySink sink;
    sink.body = &reply;
    sink.handle = handle;
    sink.limit = limit;
    setOption(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limit));
    setOption(handle, CURLOPT_WRITEFUNCTION, &receiveBody);
    setOption(handle, CURLOPT_WRITEDATA, static_cast<void*>(&sink));

    started = Clock::now();
    const CURLcode rc = curl_easy_perform(handle);
    if (sink.error) std::rethrow_exception(sink.error);
    if (sink.over_limit || rc == CURLE_FILESIZE_EXCEEDED) {
        failure = "Reply from " + url + " is larger than the limit of " + std::to_string(limit) + " bytes";
        return Attempt::TooLarge;
    }
    if (rc != CURLE_OK) {
        failure = std::string("CURL Error: ") + curl_easy_strerror(rc);
        return Attempt::Failed;
    }
    long code = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
    if (code != 200) {
        failure = "CURL HTTP Code Error: " + std::to_string(code);
        return Attempt::Failed;
    }
    return Attempt::Ok;
}

void Client::exchange(const EncodedMessage& body, ReceivedMessage& reply) {
    const Clock::time_point exchange_start = Clock::now();
    reapLaunchedServers();
    if (curl_handle == nullptr) throw TEVErr(ConnectionFailed, "Could not reach server.", "");

    for (int number = 1;; ++number) {
        std::string failure;
        Clock::time_point attempt_start = Clock::now();
        Attempt outcome;
        try {
            outcome = attempt(body, reply, failure, attempt_start);
        } catch (const std::exception& e) {
            detail::say(std::string("Exception in send_and_receive: ") + e.what());
            throw TEVErr(ConnectionFailed, "Exception in Rest::send_and_receive", e.what());
        } catch (...) {
            detail::say("General exception in send_and_receive");
            throw TEVErr(ConnectionFailed, "General Exception in Rest::send_and_receive", "");
        }
        if (outcome == Attempt::Ok) return;
        // The server answered, so retrying or launching would not help.
        if (outcome == Attempt::TooLarge) throw TEVErr(ErrorDecodingMessage, failure, "");

        if (launches_server && !launch_attempted.load()) {
            detail::say("Cannot connect to TEV... trying to start it (" + failure + ")");
            start_server();  // reports by its result and launch_attempted; never throws
        } else {
            detail::say("Cannot connect to TEV... (" + failure + ")");
        }

        const Clock::time_point now = Clock::now();
        const auto since_attempt = now - attempt_start;
        if (since_attempt < kAttemptSpacing)
            std::this_thread::sleep_for(kAttemptSpacing -
                                        std::chrono::duration_cast<std::chrono::milliseconds>(since_attempt));
        if (now - exchange_start > kExchangeBudget || number == kMaxAttempts)
            throw TEVErr(ConnectionFailed, "Could not reach server.", "");
    }
}

MessageDict Client::send_and_receive_dict(Dict& request) { return exchangeMessage(request, {}); }

bool Client::launchAttemptedSettled() {
    std::lock_guard<std::mutex> lock(exchange_mutex);
    return launch_attempted.load();
}

MessageDict Client::exchangeMessage(Dict& request, const References& referenced) {
    std::lock_guard<std::mutex> lock(exchange_mutex);
    addEnvelope(request);
    ReceivedMessage reply;
    // A large reply goes into the recycled block; an unused block comes back.
    reply.provide(takeSpareBin());
    struct SpareBack {
        Client& client;
        ReceivedMessage& reply;
        ~SpareBack() { client.keepSpareBin(reply.takeSpare()); }
    } spare_back{*this, reply};
    {
        const EncodedMessage body = encode_referencing(request, referenced, 8192);
        exchange(body, reply);
    }  // the encoded request is gone before the reply is decoded
    launch_attempted.store(false);
    try {
        return reply.decode();
    } catch (const std::exception& e) {
        throw TEVErr(ErrorDecodingMessage, e.what(), "");
    }
}

}  // namespace Rest
}  // namespace TEV
