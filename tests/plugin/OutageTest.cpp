// A server outage from the user's side: the failed render that launches the
// server once, the renders that then send nothing, the Reconnect row, the
// Reconnect button, and the render that works again.
#include <ctime>
#include <filesystem>
#include <sstream>

#include <gmock/gmock.h>

#include "PluginTestSupport.h"

namespace TEV::PluginTest {
namespace {

int countLines(const std::string& text, const std::string& needle) {
    std::istringstream lines(text);
    int n = 0;
    for (std::string line; std::getline(lines, line);) n += line.find(needle) != std::string::npos;
    return n;
}

TEST_F(PluginTest, AnOutageIsShownLaunchesOnceAndEndsWithReconnect) {
    start();
    const InstanceId inst = host->createInstance();
    PixelWorld input(320, 180, 8);
    input.fillGradient();

    // Nothing listens and nothing is installed: the exchange gives up after
    // its retries, having tried to launch the server once.
    {
        CaptureStdout out;
        const RenderResult r = host->render(inst, input);
        ASSERT_TRUE(r.ok()) << r.render.describe();
        writePng(r.output, "cannot_connect_after_retries");
        EXPECT_EQ(differingPixels(r.output, expectedOverlay(input, "Can't connect to the TEVORA",
                                                            "Please start or restart it.",
                                                            "Then, click the Reconnect button from this plugin")),
                  0);
        EXPECT_EQ(countLines(out.text(), "Cannot connect to TEV... trying to start it"), 1);
        EXPECT_GT(countLines(out.text(), "Cannot connect to TEV... ("), 0);
    }
    EXPECT_TRUE(std::filesystem::exists(launcherLog())) << "no launch was attempted";
    EXPECT_EQ(logMessages().back(), "TEV Error in UniversalRender: Connection failed: Could not reach server.");

    // The server is up now, but until Reconnect the plug-in doesn't call it.
    startServer().setJobScript(invertingJob());
    {
        const RenderResult r = host->render(inst, input);
        ASSERT_TRUE(r.ok()) << r.render.describe();
        writePng(r.output, "cannot_connect_known_down");
        EXPECT_EQ(differingPixels(r.output, expectedOverlay(input, "Can't connect to the TEVORA",
                                                            "Please start or restart it.",
                                                            "Then, click the Reconnect button from this plugin.")),
                  0);
    }
    EXPECT_EQ(server->requestCount(), 0u);
    EXPECT_EQ(countLogMessages("TEV Error in UniversalRender: "), 1) << "the known-down case is not logged";

    // The Reconnect row shows while a launch has been attempted.
    host->updateParamsUI(inst).expectOk();
    EXPECT_FALSE(host->paramHidden(inst, kReconnect));
    EXPECT_TRUE(host->paramHidden(inst, kTimestamp));

    // Reconnect re-arms the launch and stamps the time, without a word to the server.
    const double before = static_cast<double>(std::time(nullptr));
    host->userChangedParam(inst, kReconnect).expectOk();
    const double after = static_cast<double>(std::time(nullptr));
    EXPECT_GE(host->paramValue(inst, kTimestamp), before);
    EXPECT_LE(host->paramValue(inst, kTimestamp), after);
    EXPECT_EQ(server->requestCount(), 0u);

    host->updateParamsUI(inst).expectOk();
    EXPECT_TRUE(host->paramHidden(inst, kReconnect));

    const RenderResult r = host->render(inst, input);
    ASSERT_TRUE(r.ok()) << r.render.describe();
    EXPECT_EQ(differingPixels(r.output, worldFromImage(inverted(imageFromWorld(input)))), 0);
    EXPECT_EQ(renderCalls().size(), 1u);
}

}  // namespace
}  // namespace TEV::PluginTest
