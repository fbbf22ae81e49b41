// A client made for a port given at run time (tools that examine a server):
// it talks to that port and never launches the build's server.
#include <gtest/gtest.h>

#include "CaptureStdout.h"
#include "FakeServer.h"
#include "RestClient.h"
#include "ThrownError.h"

namespace TEV {
namespace Test {
namespace {

std::unique_ptr<Rest::Client> clientFor(int port) {
    auto client = std::make_unique<Rest::Client>(port);
    client->setPlugin("TestPlugin", "1.2.3");
    return client;
}

TEST(OtherPort, ExchangesGoToTheGivenPort) {
    FakeServer server(0);
    ASSERT_NE(server.port(), kServerPort);
    auto client = clientFor(server.port());
    EXPECT_EQ(client->get_endpoint(), "http://127.0.0.1:" + std::to_string(server.port()) + "/api");
    Dict request;
    request["method"] = "open_tev_app";
    const MessageDict reply = client->send_and_receive_dict(request);
    EXPECT_TRUE(reply.path("result.ok").type == Dict::Bool);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].method, "open_tev_app");
}

TEST(OtherPort, AnUnreachableServerIsRetriedButNeverLaunched) {
    int port = 0;
    close(listenOnLoopback("OtherPort", 0, 1, &port));  // free a moment ago; nothing listens now
    auto client = clientFor(port);
    CaptureStdout out;
    Dict request;
    const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
    EXPECT_EQ(e.type, ConnectionFailed);
    EXPECT_EQ(e.detail, "Could not reach server.");
    EXPECT_FALSE(client->launch_attempted);
    EXPECT_EQ(out.text().find("trying to start it"), std::string::npos) << out.text();
    EXPECT_EQ(out.text().find("Launching Server"), std::string::npos) << out.text();
    EXPECT_NE(out.text().find("[TEV] Cannot connect to TEV... (CURL Error: "), std::string::npos) << out.text();
}

TEST(OtherPort, AnExplicitLaunchIsRefusedAndCountsAsAnAttempt) {
    auto client = clientFor(1);
    CaptureStdout out;
    EXPECT_FALSE(client->start_server());
    EXPECT_TRUE(client->launch_attempted);
    EXPECT_EQ(out.text(),
              "[TEV] Not starting the server: this client talks to port 1, the server would listen on the build's "
              "port\n");
}

}  // namespace
}  // namespace Test
}  // namespace TEV
