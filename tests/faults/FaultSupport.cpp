// Shared tools of the fault, stress and security tests.
#include "FaultSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace TEV::FaultTest {

// ---- overlays -------------------------------------------------------------------

Overlay cannotReach() {
    return {"Can't connect to the TEVORA", "Please start or restart it.",
            "Then, click the Reconnect button from this plugin"};
}

Overlay knownDown() {
    return {"Can't connect to the TEVORA", "Please start or restart it.",
            "Then, click the Reconnect button from this plugin."};
}

Overlay errorInTevora(const std::string& text) { return {"Error in Tevora", text, "View logs for details"}; }

Overlay pluginError(const std::string& detail, const std::string& context) {
    return {"Error in Tevora Plugin", detail, context};
}

std::vector<Overlay> overlaysForLogged(const std::string& line) {
    static const std::string kLibrary = "TEV Error in UniversalRender: ";
    static const std::string kOther = "Error in UniversalRender: ";
    std::vector<Overlay> candidates;
    if (line.compare(0, kOther.size(), kOther) == 0) {
        // A reply's error or a result that did not fit, or a standard exception.
        const std::string text = line.substr(kOther.size());
        candidates.push_back(errorInTevora(text));
        candidates.push_back({"Generic Error in Tevora", text, "View logs for details"});
        return candidates;
    }
    if (line.compare(0, kLibrary.size(), kLibrary) != 0) return candidates;
    // "<error type text>: <detail>[. <context>]"
    const std::string message = line.substr(kLibrary.size());
    if (message == "Connection failed: Could not reach server.") return {cannotReach()};
    static const char* const kTypes[] = {"Connection failed: ", "Error decoding message: ", "Timeout exceeded: ",
                                         "Exception in plugin: ", "Unknown error: "};
    static const char* const kContexts[] = {"While doing the initial call", "While getting the result"};
    for (const char* type : kTypes) {
        const std::string t = type;
        if (message.compare(0, t.size(), t) != 0) continue;
        const std::string rest = message.substr(t.size());
        candidates.push_back(pluginError(rest, ""));
        for (const char* context : kContexts) {
            const std::string suffix = std::string(". ") + context;
            if (rest.size() >= suffix.size() && rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) == 0)
                candidates.push_back(pluginError(rest.substr(0, rest.size() - suffix.size()), context));
        }
    }
    return candidates;
}

std::string describe(const Overlay& o) { return "\"" + o.line1 + "\" / \"" + o.line2 + "\" / \"" + o.line3 + "\""; }

// ---- fixture --------------------------------------------------------------------

InstanceId FaultTest::instance() {
    if (!host) start();
    if (!have_instance_) {
        inst_ = host->createInstance();
        have_instance_ = true;
    }
    return inst_;
}

RenderResult FaultTest::timedRender(const PixelWorld& input, double& seconds, InstanceId inst) {
    if (inst == 0) inst = instance();
    const Clock::time_point start = Clock::now();
    RenderResult r = host->render(inst, input);
    seconds = secondsSince(start);
    return r;
}

void FaultTest::expectOverlay(const RenderResult& r, const PixelWorld& input, const Overlay& overlay,
                              const std::string& picture) {
    ASSERT_TRUE(r.ok()) << r.render.describe();
    writePng(r.output, picture);
    EXPECT_EQ(differingPixels(r.output, expectedOverlay(input, overlay.line1, overlay.line2, overlay.line3)), 0)
        << "the frame is not the input with " << describe(overlay);
    EXPECT_TRUE(r.output.paddingIntact());
    EXPECT_EQ(r.render.return_msg, "") << "nothing is said to the host";
}

void FaultTest::expectProcessed(const RenderResult& r, const PixelWorld& input) {
    ASSERT_TRUE(r.ok()) << r.render.describe();
    EXPECT_EQ(differingPixels(r.output, worldFromImage(inverted(imageFromWorld(input)))), 0)
        << "the frame is not the server's result";
    EXPECT_TRUE(r.output.paddingIntact());
}

std::string FaultTest::lastLogged(const std::string& prefix) {
    const std::vector<std::string> messages = logMessages();
    if (messages.empty()) {
        ADD_FAILURE() << "nothing logged";
        return "";
    }
    const std::string& last = messages.back();
    if (last.compare(0, prefix.size(), prefix) != 0) {
        ADD_FAILURE() << "the last log message \"" << last << "\" does not begin with \"" << prefix << "\"";
        return "";
    }
    return last.substr(prefix.size());
}

int FaultTest::renderFailuresLogged() {
    int n = 0;
    for (const std::string& m : logMessages())
        n += m.rfind("TEV Error in UniversalRender: ", 0) == 0 || m.rfind("Error in UniversalRender: ", 0) == 0;
    return n;
}

void FaultTest::expectBooksBalanced() {
    std::ostringstream lines;
    for (const std::string& line : host->unbalanced()) lines << "\n  " << line;
    EXPECT_TRUE(lines.str().empty()) << "the host's books do not balance:" << lines.str();
}

PixelWorld faultInput(int depth) {
    PixelWorld world(480, 270, depth);
    world.fillGradient();
    return world;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool waitUntil(const std::function<bool()>& done, milliseconds timeout) {
    const Clock::time_point end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end) return done();
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

// ---- process-level tools --------------------------------------------------------

MemoryUse memoryUse() {
    MemoryUse use;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        std::istringstream fields(line);
        std::string key;
        long kib = 0;
        fields >> key >> kib;
        if (key == "VmRSS:") use.rss_kib = kib;
        if (key == "VmHWM:") use.peak_kib = kib;
    }
    return use;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

RawServer::RawServer(int port, Reply reply) : reply_(std::move(reply)) {
    listen_fd_ = Test::listenOnLoopback("RawServer", port, 16, &port_);
    if (pipe2(wake_, O_CLOEXEC) != 0) {
        close(listen_fd_);
        throw std::runtime_error("RawServer: pipe2 failed");
    }
    thread_ = std::thread([this] { serve(); });
}

RawServer::~RawServer() {
    if (write(wake_[1], "x", 1) < 0) {
        // The thread is then woken by the closed listener below at the latest.
    }
    thread_.join();
    close(listen_fd_);
    close(wake_[0]);
    close(wake_[1]);
}

void RawServer::serve() {
    for (;;) {
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        // The request's head and as much of its body as it announces.
        std::string request;
        char buffer[65536];
        std::size_t wanted = std::string::npos;
        while (request.size() < wanted) {
            pollfd in{fd, POLLIN, 0};
            if (poll(&in, 1, 2000) <= 0) break;
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
            const std::size_t head_end = request.find("\r\n\r\n");
            if (wanted == std::string::npos && head_end != std::string::npos) {
                std::size_t body = 0;
                const std::size_t at = request.find("Content-Length: ");
                if (at != std::string::npos && at < head_end) body = std::stoul(request.substr(at + 16));
                wanted = head_end + 4 + body;
            }
        }
        const std::string answer = reply_(request);
        std::size_t sent = 0;
        while (sent < answer.size()) {
            const ssize_t n = send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        shutdown(fd, SHUT_WR);
        close(fd);
    }
}

}  // namespace TEV::FaultTest
