// TEV server link: the HTTP client to the local processing server.
//
//   Client           one libcurl easy handle, the request envelope, one exchange
//                    with retries and a once-per-outage server launch
//   protocol         call_plugin / ui / send_and_receive_request: immediate
//                    results, queued jobs polled with progress and abort
//   waitOrTimeout    the paced wait with a time-out in whole seconds
//   install paths    where the server, its runtime and the logs live
//   shared logs      log files that every render user appends to
//
// Every exchange is an HTTP POST of one MessagePack object to
// http://127.0.0.1:<port>/api; the reply is one MessagePack object. Failures
// are thrown as TEV::TEVErr. Diagnostics go to std::cout, one line each.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include "TEV.h"

namespace TEV {
namespace Rest {

// libcurl body sink: appends size * nmemb bytes at `data` to `target` and
// reports them all consumed.
std::size_t WriteCallback(void* data, std::size_t size, std::size_t nmemb, std::string* target);

class Client {
public:
    // Largest reply body accepted by default: 16 GiB. The largest frame the
    // host can ask for (30000 x 30000, four float channels) is about 13.4 GiB,
    // and one Bytes entry on the wire holds at most 4 GiB, so no honest reply
    // comes near it; a larger or endless reply is refused before it is stored.
    static constexpr std::uint64_t kDefaultMaxReplyBytes = std::uint64_t(16) << 30;

    // The one easy handle of this client; null when curl_easy_init failed,
    // and then every exchange throws "Could not reach server." at once.
    CURL* curl_handle = nullptr;
    // Set by create_client; a client that is not valid is replaced by its owner.
    bool valid = false;
    // A server launch was attempted since the last successful exchange. Set by
    // start_server, cleared by a successful exchange and by the plug-in's
    // Reconnect button; safe to read and write from any thread.
    std::atomic<bool> launch_attempted{false};
    // launch_attempted once any exchange under way on this client has ended.
    // An exchange that launches the server sets the flag and clears it again
    // when it then gets through, so a render deciding whether to send at all
    // must not read the flag half-way through another thread's exchange.
    bool launchAttemptedSettled();

    // Initialises libcurl's global state (shared, counted) and the handle.
    // Never throws: failures are printed and leave a client whose exchanges fail.
    // The client talks to the build's fixed port and launches the server once
    // per outage when it can't be reached: the plug-in's client.
    Client();
    // The same, talking to `port` on the loopback interface instead, for tools
    // that examine a server at a port chosen at run time. Such a client never
    // launches a server: the launcher starts the build's server, which listens
    // on the fixed port, not on `port`.
    explicit Client(std::int32_t port);
    // Releases the handle and this client's share of libcurl's global state.
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // ---- libcurl's global state, counted across all clients of the process ----
    // Calls curl_global_init for the first reference; false (count unchanged)
    // when that fails.
    static bool initCURL();
    // Drops one reference; curl_global_cleanup when the last one goes. Does
    // nothing when no reference is held.
    static void cleanupCURL();
    // Number of references currently held.
    static std::int32_t curlReferences();

    // "http://127.0.0.1:<port>/api".
    std::string get_endpoint() const;

    // ---- single exchanges ----
    // Adds the envelope to `request` in place ("request_id" if missing,
    // "plugin_id", "plugin_version", "tev_lib_version"), posts it and decodes
    // the reply. Throws TEVErr: ParameterNotFound "No Plugin ID" before any
    // network activity; ConnectionFailed "Could not reach server." after 25
    // attempts or 5 s of transport failures or non-200 replies;
    // ErrorDecodingMessage for a reply that is not MessagePack or is larger than
    // the reply limit (not retried). A reply's "error" entry is not examined.
    MessageDict send_and_receive_dict(Dict& request);
    // send_and_receive_dict with the reply dropped; errors pass through.
    void send_dict(Dict& request);

    // ---- request protocol ----
    // Runs `function_name` on the server with `args` (not changed) and
    // returns its result; see send_and_receive_request.
    MessageDict call_plugin(std::string function_name, const Dict& args,
                            const std::function<bool()>& abort = {},
                            const std::function<void(int)>& progress = {});
    // call_plugin with `image` sent as the image dictionary under `image_key`
    // of `args` (made a map if it is not one). The samples are posted straight
    // from the image's store, never copied into the message; `image` must stay
    // unchanged until the call returns.
    MessageDict call_plugin_with_image(std::string function_name, Dict args, const std::string& image_key,
                                       const Image& image, const std::function<bool()>& abort = {},
                                       const std::function<void(int)>& progress = {});
    // Same message with "method" "ui". With `wait` false the reply is dropped
    // and Null returned.
    MessageDict ui(std::string function_name, const Dict& args, bool wait);
    // Sends `request` (given a "request_id" if it has none) and returns the
    // immediate "result", or polls a queued job until it has one. `abort`
    // (may be empty) returning true sends "abort_request" and returns the
    // latest poll's "result" or Null. `progress` (may be empty) receives the
    // server's progress after the first 21 ms of polling. Throws TEVErr:
    // ExceptionInPlugin for a reply with an "error"; UnknownError "Failed to
    // send message" for a first reply that is neither result nor "queued";
    // TimeoutExceeded after the render time-out; exchange errors unchanged.
    MessageDict send_and_receive_request(Dict& request, const std::function<bool()>& abort = {},
                                         const std::function<void(int)>& progress = {});
    // Takes the largest byte block (1 MiB or more) of a reply the caller is
    // done with and keeps it for the next reply whose large bin fits, so that
    // frames don't arrive into freshly mapped memory every time. The client
    // keeps at most one block; the rest of `reply` is freed.
    void recycle(Dict&& reply);
    // Sends {"method": "unload_plugin"}; the reply is dropped, errors pass through.
    void unloadPlugin();
    // Sends {"method": "open_tev_app"}; the reply is dropped, errors pass through.
    void openTEVApp();

    // ---- identity and limits (safe to call while other threads exchange) ----
    void setPluginId(std::string id);
    std::string getPluginId();
    void setPluginVersion(std::string version);
    std::string getPluginVersion();
    void setPlugin(const std::string& id, const std::string& version);
    // Time-out of a queued job's wait, and of one attempt that makes no progress.
    void setRenderTimeout(int seconds);
    int getRenderTimeout() const;
    // Largest reply body accepted (kDefaultMaxReplyBytes unless changed).
    void setMaxReplyBytes(std::uint64_t bytes);

    // Starts the server once: spawns its runtime from the install folder with
    // its output appended to Logs/launcher.log. True when the process was
    // spawned; false without trying for a client of another port. Never
    // throws; always leaves launch_attempted true. The spawned process stays
    // a child of the host: each later exchange, and the client's destruction,
    // reaps it once it has exited (a launch that lost the port to another
    // exits at once), so none lingers as a zombie.
    bool start_server();

private:
    enum class Attempt { Ok, Failed, TooLarge };

    Client(std::int32_t port, bool launches_server);
    // Nodes of a request sent from bytes that lie elsewhere (encode_referencing).
    using References = std::vector<std::pair<const Dict*, ByteSpan>>;

    // send_and_receive_dict with `referenced` nodes posted from where their bytes lie.
    MessageDict exchangeMessage(Dict& request, const References& referenced);
    // send_and_receive_request with `referenced` nodes in the initial call.
    MessageDict runJob(Dict& request, const References& referenced, const std::function<bool()>& abort,
                       const std::function<void(int)>& progress);
    // One POST of `body`; the reply body lands in `reply`, `started` is the
    // moment the transfer began, `failure` the detail of a Failed or TooLarge attempt.
    Attempt attempt(const EncodedMessage& body, ReceivedMessage& reply, std::string& failure,
                    std::chrono::steady_clock::time_point& started);
    // The attempts and their pacing; `reply` holds the body of the first good reply.
    void exchange(const EncodedMessage& body, ReceivedMessage& reply);
    // The recycled block, handed out (empty when there is none).
    std::vector<char> takeSpareBin();
    // Keeps `block` as the recycled block when it is larger than the one kept.
    void keepSpareBin(std::vector<char>&& block) noexcept;
    // Writes the envelope entries into `request`.
    void addEnvelope(Dict& request);
    // Collects the launched servers that have exited, without waiting.
    void reapLaunchedServers();
    // Polls a queued job until it ends.
    MessageDict pollJob(const std::string& job_id, const std::function<bool()>& abort,
                        const std::function<void(int)>& progress);

    std::string plugin_id;
    std::string plugin_version;
    std::string lib_version;
    std::string base_url = "http://127.0.0.1";  // loopback only
    std::int32_t port;
    bool launches_server;               // false for a client of another port
    std::atomic<std::int32_t> render_timeout{30};
    std::atomic<std::uint64_t> max_reply_bytes{kDefaultMaxReplyBytes};
    bool holds_curl_reference = false;  // this client's initCURL succeeded
    std::mutex exchange_mutex;          // one exchange at a time
    std::mutex identity_mutex;          // plugin_id and plugin_version; taken briefly
    std::vector<char> spare_bin;        // a recycled block for the next large reply
    std::mutex spare_mutex;             // guards spare_bin; taken briefly
    std::vector<int> launched_pids;     // servers spawned and not yet reaped
    std::mutex launched_mutex;          // guards launched_pids; taken briefly

    static std::atomic<std::int32_t> curl_init_count;
    static std::mutex curl_init_mutex;
};

// A new client on the heap with `valid` set.
std::unique_ptr<Client> create_client();

}  // namespace Rest

// Calls `condition` until it returns false, starting its calls at most every
// 10 ms (the first at once) and calling `tick` (may be empty) after each
// pause. Throws TEVErr(TimeoutExceeded, "<timeout_seconds> seconds") at the
// first check where the whole seconds elapsed exceed `timeout_seconds`;
// std::bad_function_call for an empty condition; the callbacks' exceptions
// pass through.
void waitOrTimeout(std::function<bool()> condition, const long& timeout_seconds,
                   const std::function<void()>& tick);

// ---- install locations (all under the build's fixed maker folder) ----
// <maker>/TEVORA. Prints "[TEV] path not found: <path>" when it is missing;
// throws std::filesystem::filesystem_error when the check itself fails.
std::string GetTEVRoot();
// <maker>/Render Engine/Python 3.10. Not checked.
std::string GetRenderEngineRoot();
// <runtime root>/bin/TEVORA Server. Prints "[TEV] path not found: <path>"
// when it is missing; throws std::filesystem::filesystem_error when the check fails.
std::string GetTEVServerExe();
// <maker>/<sub>, created with its parents when missing; throws
// std::filesystem::filesystem_error when it can't be created.
std::string GetUserAppFolder(std::string sub);

// ---- logs that every render user appends to ----
// Opens `path` for appending (close-on-exec) as a log that all users of the
// Logs folder's group write to: a file this call creates, or that this user
// owns, is made group-readable and -writable whatever the umask (the folder's
// set-group-id bit gives it the group). A symbolic link, a device or anything
// else that is not a regular file is refused with ELOOP or EINVAL, so a user
// who may replace the folder's entries can't send another user's lines
// elsewhere. A FIFO is taken when someone reads it (a log collector) and
// refused with ENXIO at once when nobody does. Returns the descriptor, or -1
// with errno set.
int OpenSharedLogFile(const std::string& path);
// True when the open `fd` is still the file at `path` (not a link
// put there since it was opened): what a caller that opened by name checks.
bool IsSharedLogFile(int fd, const std::string& path);

}  // namespace TEV
