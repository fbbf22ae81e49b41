// Shared by the fault, stress and security tests: the server link's time
// bounds, the frames a render may end in, a fixture that checks them, and
// small process-level tools (memory figures, environment, raw sockets).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PluginTestSupport.h"

namespace TEV::FaultTest {

using namespace TEV::PluginTest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// ---- the server link's bounds, as RestClient.h documents them ------------------
// Attempts of one exchange, and the time after which none starts.
constexpr int kMaxAttempts = 25;
constexpr double kExchangeBudget = 5.0;
// Attempts start at most this often.
constexpr double kAttemptSpacing = 0.15;
// A connect that neither succeeds nor is refused gives up after this long.
constexpr double kConnectTimeout = 3.0;
// The plug-in's client keeps the default render time-out: a queued job's wait,
// and how long one attempt may move no byte (libcurl judges the speed over its
// last 5 s, so a stall is noticed up to kLowSpeedWindow later).
constexpr double kRenderTimeout = 30.0;
constexpr double kLowSpeedWindow = 5.0;
// The pause after a successful launch.
constexpr double kLaunchPause = 0.5;
// Room for a loaded two-core machine and the sanitizer builds (ThreadSanitizer
// included): the upper bounds below only say that a render did not wait for
// the next longer mechanism; the checks of requests and attempts say the rest.
constexpr double kSlack = 8.0;

// Longest render whose attempts all fail at once (refused, reset, HTTP error).
constexpr double kFailingExchangeBound = kExchangeBudget + kAttemptSpacing + kLaunchPause + kSlack;
// Longest render whose one exchange is answered, well or badly.
constexpr double kAnsweredExchangeBound = 1.0 + kSlack;
// Longest render against a server that accepts and then stalls.
constexpr double kStalledExchangeBound = kRenderTimeout + kLowSpeedWindow + kAttemptSpacing + kSlack;

// ---- the overlays ---------------------------------------------------------------
struct Overlay {
    std::string line1, line2, line3;
    bool operator==(const Overlay& o) const { return line1 == o.line1 && line2 == o.line2 && line3 == o.line3; }
};
// An exchange gave up on the server (no final period).
Overlay cannotReach();
// The server is known to be down since a launch attempt: nothing was sent.
Overlay knownDown();
// A server-reported error, a Null reply or a result that does not fit.
Overlay errorInTevora(const std::string& text);
// Any other library error of the exchange.
Overlay pluginError(const std::string& detail, const std::string& context);
// The overlays that the render which logged `line` (a log message that
// begins "TEV Error in UniversalRender: " or "Error in UniversalRender: ")
// may have drawn: the log names the error, the overlay shows its parts.
// Empty for any other line.
std::vector<Overlay> overlaysForLogged(const std::string& line);
std::string describe(const Overlay& o);

// ---- the fixture ----------------------------------------------------------------
class FaultTest : public PluginTest {
protected:
    // Starts the plug-in (and one instance) if it isn't yet.
    InstanceId instance();
    // Renders `input` and keeps how long it took in `seconds`.
    RenderResult timedRender(const PixelWorld& input, double& seconds, InstanceId inst = 0);

    // The render succeeded and the output is the input with exactly these
    // lines on it; a picture of it is kept under `picture`.
    void expectOverlay(const RenderResult& r, const PixelWorld& input, const Overlay& overlay,
                       const std::string& picture);
    // The render succeeded and the output is the input inverted (invertingJob()).
    void expectProcessed(const RenderResult& r, const PixelWorld& input);
    // The last log message, which must begin with `prefix`; what follows it.
    std::string lastLogged(const std::string& prefix);
    // Log messages of render failures ("... UniversalRender: ").
    int renderFailuresLogged();
    // The host's books balance now, with the plug-in still set up.
    void expectBooksBalanced();

    InstanceId inst_ = 0;
    bool have_instance_ = false;
};

// A 480 x 270 gradient frame at `depth`. The overlay's text scales with the
// frame's width; from this width on the final period that tells the two
// "Can't connect" overlays apart is drawn.
PixelWorld faultInput(int depth = 8);
double secondsSince(Clock::time_point start);
// Calls `done` every 5 ms until it holds or `timeout` passes; its last answer.
bool waitUntil(const std::function<bool()>& done, milliseconds timeout);

// ---- process-level tools --------------------------------------------------------
// Resident set size and its peak, in KiB, from /proc/self/status.
struct MemoryUse {
    long rss_kib = 0;
    long peak_kib = 0;
};
MemoryUse memoryUse();

// Sets (or, with `value` null, unsets) an environment variable for its
// lifetime and restores what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// A loopback TCP listener that accepts connections on its own thread and
// answers each with `reply(request_bytes)` written verbatim, then closes.
// Port 0 picks a free port. Counts what it accepted.
class RawServer {
public:
    using Reply = std::function<std::string(const std::string& request)>;
    RawServer(int port, Reply reply);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int port() const { return port_; }
    int connections() const { return connections_.load(); }

private:
    void serve();
    int listen_fd_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    Reply reply_;
    std::atomic<int> connections_{0};
    std::thread thread_;
};

}  // namespace TEV::FaultTest
