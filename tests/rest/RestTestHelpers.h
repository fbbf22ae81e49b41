// Helpers shared by the server-link tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>

#include "CaptureStdout.h"
#include "FakeServer.h"
#include "RestClient.h"
#include "TestInstall.h"
#include "ThrownError.h"

namespace TEV {
namespace Test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A client with a plug-in identity, ready to exchange.
inline std::unique_ptr<Rest::Client> makeClient() {
    auto client = Rest::create_client();
    client->setPlugin("TestPlugin", "1.2.3");
    return client;
}

// Number of lines of `text` that contain `needle`.
inline int countLines(const std::string& text, const std::string& needle) {
    std::istringstream lines(text);
    int n = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find(needle) != std::string::npos) ++n;
    return n;
}

// Time a test adds to an upper bound for a loaded two-core machine and the
// sanitizer builds. Upper bounds only say that nothing waited for a longer
// mechanism (the next whole second, the exchange budget, the time-out);
// lower bounds, which follow from the pauses themselves, need none.
constexpr double kLoadSlackSeconds = 4.0;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Tests that may launch the server need the maker folder to be scratch
// space and nothing installed in it.
class ServerLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!makerFolderIsScratch()) GTEST_SKIP() << "maker folder " << kMakerFolder << " is outside the build tree";
        removeServerInstall();
    }
};

}  // namespace Test
}  // namespace TEV
