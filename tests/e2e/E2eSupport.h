// End-to-end support: the real plug-in in the headless host, the installed
// reference server started by the plug-in's own launcher, and the expected
// adjustment computed here, independently of the server.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tevhost/HeadlessHost.h"

namespace TEV::E2e {

using Host::HeadlessHost;
using Host::InstanceId;
using Host::PixelWorld;

std::string pluginPath();     // the built ExamplePlugin module
std::string frontEndPath();   // the built tev-host program
std::string pluginLogFile();  // <maker>/Logs/ExamplePlugin_Adobe.log
std::string pidFile();        // <maker>/Logs/server.pid

// Lays the reference server out in the build's maker folder (the install
// script; other suites may have put a fake runtime there).
void installServer();

// The pid of the running reference server from its pid file, or 0 when none
// runs (a stale file, or a pid that is not the server's, gives 0).
pid_t serverPid();
// Sends `signal` to the running server, if any, and waits until it is gone
// and the port is free. False when it did not end in 15 seconds.
bool stopServer(int signal);
// True when something accepts connections on the build's port.
bool portAnswers();

// The slider values as the plug-in sends them (floats widened to double).
struct Adjustment {
    float brightness = 1, contrast = 1, saturation = 1;
};

// What the server's documented adjustment makes of `input`, computed here in
// doubles: k1 = b * c * s, k2 = b * c * (1 - s), t = S * 0.5 * (1 - c), and per
// pixel L = 0.2126 R + 0.7152 G + 0.0722 B (left to right), y = k1 * x + (k2 * L + t)
// for each colour channel; 8 and 16 bits clip to [0, S] and round half to even;
// 32 bits round to the nearest float. Alpha comes back full.
PixelWorld expectedOutput(const PixelWorld& input, const Adjustment& adjustment);

// The first pixel where the worlds differ ("" when equal), for messages.
std::string firstDifference(const PixelWorld& actual, const PixelWorld& expected);

// A host with the plug-in loaded and set up, one instance with `adjustment`.
struct PluginSession {
    explicit PluginSession(const Host::HostOptions& options = {}, const Adjustment& adjustment = {});
    ~PluginSession();
    HeadlessHost host;
    InstanceId inst = 0;
};

// The lines of the plug-in's log file from byte `offset` on.
std::vector<std::string> logLinesSince(std::uintmax_t offset);
std::uintmax_t logSize();

// Renames the server executable away while alive, so that a launch fails
// (the server cannot be started), and puts it back when destroyed.
class HiddenRuntime {
public:
    HiddenRuntime();
    ~HiddenRuntime();
    HiddenRuntime(const HiddenRuntime&) = delete;
    HiddenRuntime& operator=(const HiddenRuntime&) = delete;
    void restore();

private:
    bool hidden_ = false;
};

}  // namespace TEV::E2e
