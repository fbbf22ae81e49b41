// One exchange against a real loopback server: envelope, retries and the
// once-per-outage launch, reply faults, limits, connection reuse, libcurl's
// global state.
#include <atomic>
#include <thread>
#include <vector>

#include "RestTestHelpers.h"

namespace TEV {
namespace Test {
namespace {

using Exchange = ServerLinkTest;

Dict map(std::initializer_list<std::pair<const std::string, Dict>> entries) {
    return Dict(std::map<std::string, Dict>(entries));
}

// The fake server's default answer, {"result": {"ok": true}}.
bool isOk(const MessageDict& reply) { return reply.path("result.ok").type == Dict::Bool; }

// ---- envelope and request ids ------------------------------------------------

TEST_F(Exchange, EnvelopeIsAddedInPlaceAndAnExistingRequestIdIsKept) {
    FakeServer server;
    auto client = makeClient();

    Dict fresh = map({{"payload", 7}, {"plugin_id", "overwritten"}});
    client->send_and_receive_dict(fresh);
    Dict kept = map({{"request_id", 5}});
    client->send_and_receive_dict(kept);
    Dict null;
    client->send_and_receive_dict(null);

    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 3u);

    const std::string id = fresh.getString("request_id", "");
    EXPECT_EQ(id.size(), 36u);
    EXPECT_EQ(seen[0].message.getString("request_id", ""), id);
    EXPECT_EQ(seen[0].message.getInt("payload", 0), 7);
    EXPECT_EQ(seen[0].message.getString("plugin_id", ""), "TestPlugin");
    EXPECT_EQ(seen[0].message.getString("plugin_version", ""), "1.2.3");
    EXPECT_EQ(seen[0].message.getString("tev_lib_version", ""), "2");
    EXPECT_EQ(seen[0].http_method, "POST");
    EXPECT_EQ(seen[0].target, "/api");
    EXPECT_EQ(seen[0].header("Content-Type"), "application/x-msgpack");

    // An existing request_id of any kind goes unchanged.
    EXPECT_EQ(seen[1].message.get("request_id").type, Dict::Int);
    EXPECT_EQ(seen[1].message.getInt("request_id", 0), 5);

    // A Null request becomes the envelope alone, with a fresh identifier.
    ASSERT_EQ(seen[2].message.type, Dict::Map);
    EXPECT_EQ((std::get<std::map<std::string, Dict>>(seen[2].message.value).size()), 4u);
    EXPECT_NE(seen[2].message.getString("request_id", ""), id);
}

TEST_F(Exchange, MissingPluginIdFailsBeforeAnyNetworkActivity) {
    FakeServer server;
    auto client = Rest::create_client();
    Dict request;
    const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
    EXPECT_EQ(e.type, ParameterNotFound);
    EXPECT_EQ(e.detail, "No Plugin ID");
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_FALSE(client->launch_attempted);
    EXPECT_EQ(request.getString("request_id", "").size(), 36u);
}

// ---- unreachable server, retries and the launch ------------------------------

TEST_F(Exchange, RefusedConnectionLaunchesOncePerOutage) {
    auto client = makeClient();
    const std::string long_line = "[TEV] Cannot connect to TEV... trying to start it (CURL Error: ";
    const std::string short_line = "[TEV] Cannot connect to TEV... (CURL Error: ";

    {  // Nothing listens: 25 attempts, one launch, then "Could not reach server."
        CaptureStdout out;
        const auto start = Clock::now();
        Dict request;
        const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
        const double took = secondsSince(start);
        EXPECT_EQ(e.type, ConnectionFailed);
        EXPECT_EQ(e.detail, "Could not reach server.");
        EXPECT_EQ(countLines(out.text(), long_line), 1);
        EXPECT_EQ(countLines(out.text(), short_line), 24);
        EXPECT_EQ(countLines(out.text(), "Launching Server to Logs"), 1);
        EXPECT_EQ(out.text().find(long_line), 0u) << "the launch line comes first";
        EXPECT_TRUE(client->launch_attempted);
        EXPECT_GT(took, 3.4) << "attempts start 150 ms apart";
        EXPECT_LT(took, 5.0 + kLoadSlackSeconds) << "no attempt starts after 5 s";
    }
    {  // The same outage goes on: short lines only, until the server is back.
        CaptureStdout out;
        std::unique_ptr<FakeServer> server;
        std::thread starter([&] {
            std::this_thread::sleep_for(milliseconds(400));
            server = std::make_unique<FakeServer>();
        });
        Dict request;
        client->send_and_receive_dict(request);
        starter.join();
        EXPECT_EQ(countLines(out.text(), long_line), 0);
        EXPECT_GE(countLines(out.text(), short_line), 1);
        EXPECT_EQ(countLines(out.text(), "Launching Server"), 0);
        EXPECT_FALSE(client->launch_attempted) << "a successful exchange ends the outage";
    }
    {  // A new outage launches again.
        CaptureStdout out;
        std::unique_ptr<FakeServer> server;
        std::thread starter([&] {
            std::this_thread::sleep_for(milliseconds(400));
            server = std::make_unique<FakeServer>();
        });
        Dict request;
        client->send_and_receive_dict(request);
        starter.join();
        EXPECT_EQ(countLines(out.text(), long_line), 1);
        EXPECT_EQ(countLines(out.text(), "Launching Server"), 1);
    }
}

TEST_F(Exchange, Http500IsRetriedLikeAnUnreachableServerAndItsBodyIsDropped) {
    FakeServer server;
    Answer failing = Answer::misbehave(Misbehaviour::http_500);
    failing.body = map({{"stale", true}});
    for (int i = 0; i < 3; ++i) server.pushAnswer("", failing);
    server.setHandler("probe", [](const ReceivedRequest&) { return Answer::result("fresh"); });
    auto client = makeClient();

    CaptureStdout out;
    Dict request = map({{"method", "probe"}});
    const MessageDict reply = client->send_and_receive_dict(request);

    EXPECT_EQ(reply.getString("result", ""), "fresh");
    EXPECT_FALSE(reply.contains("stale")) << "a failed attempt's body leaked into the reply";
    EXPECT_EQ(server.requestCount(), 4u);
    EXPECT_EQ(countLines(out.text(), "[TEV] Cannot connect to TEV... trying to start it (CURL HTTP Code Error: 500)"), 1);
    EXPECT_EQ(countLines(out.text(), "[TEV] Cannot connect to TEV... (CURL HTTP Code Error: 500)"), 2);
    EXPECT_EQ(countLines(out.text(), "Launching Server"), 1);
    EXPECT_FALSE(client->launch_attempted);
}

TEST_F(Exchange, BrokenTransfersAreRetried) {
    for (Misbehaviour m : {Misbehaviour::reset_mid_reply, Misbehaviour::close_after_headers,
                           Misbehaviour::close_without_answer, Misbehaviour::http_404}) {
        SCOPED_TRACE(name(m));
        FakeServer server;
        server.misbehave(m, 1);
        auto client = makeClient();
        CaptureStdout out;
        Dict request;
        const MessageDict reply = client->send_and_receive_dict(request);
        EXPECT_TRUE(isOk(reply));
        EXPECT_EQ(server.requestCount(), 2u);
        EXPECT_EQ(countLines(out.text(), "Cannot connect to TEV"), 1);
    }
}

TEST_F(Exchange, ClientWithoutHandleFailsAtOnce) {
    FakeServer server;
    auto client = makeClient();
    curl_easy_cleanup(client->curl_handle);
    client->curl_handle = nullptr;

    CaptureStdout out;
    const auto start = Clock::now();
    Dict request;
    const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
    // No attempt: well before the second attempt would start (150 ms).
    EXPECT_LT(secondsSince(start), 0.15 + kLoadSlackSeconds);
    EXPECT_EQ(e.type, ConnectionFailed);
    EXPECT_EQ(e.detail, "Could not reach server.");
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(out.text(), "") << "no attempt, no launch";
    EXPECT_FALSE(client->launch_attempted);
}

TEST_F(Exchange, ServerThatNeverAnswersFailsWithinTheBound) {
    FakeServer server;
    server.misbehave(Misbehaviour::never_answer);
    auto client = makeClient();
    client->setRenderTimeout(1);

    CaptureStdout out;
    const auto start = Clock::now();
    Dict request;
    const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
    const double took = secondsSince(start);
    EXPECT_EQ(e.detail, "Could not reach server.");
    // A stalled attempt ends once no byte moved for the render time-out
    // (libcurl averages the speed over the last 5 s, which adds up to that);
    // no attempt starts after 5 s.
    EXPECT_GT(took, 5.0);
    EXPECT_LT(took, 5.0 + 1 + 5 + kLoadSlackSeconds);
    EXPECT_GE(countLines(out.text(), "(CURL Error: Timeout was reached)"), 1) << out.text();
}

TEST_F(Exchange, SlowAnswerWithinTheRenderTimeoutIsAwaited) {
    FakeServer server;
    server.setSlowDelay(milliseconds(1500));
    server.misbehave(Misbehaviour::slow_answer, 1);
    auto client = makeClient();
    client->setRenderTimeout(3);
    Dict request;
    client->send_and_receive_dict(request);
    EXPECT_EQ(server.requestCount(), 1u);
}

// ---- replies that can't be used ----------------------------------------------

TEST_F(Exchange, UndecodableRepliesFailAsDecodingErrorsWithoutRetry) {
    struct Case {
        Misbehaviour m;
        const char* detail;  // expected part of the decoder's text; "" = any
    };
    for (const Case& c : {Case{Misbehaviour::empty_body, "insufficient bytes"},
                          Case{Misbehaviour::truncated_body, "insufficient bytes"},
                          Case{Misbehaviour::garbage_body, ""},
                          Case{Misbehaviour::huge_array_header, ""},
                          Case{Misbehaviour::huge_string_header, ""},
                          Case{Misbehaviour::deep_nesting, ""}}) {
        SCOPED_TRACE(name(c.m));
        FakeServer server;
        server.misbehave(c.m);
        auto client = makeClient();
        Dict request;
        const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
        EXPECT_EQ(e.type, ErrorDecodingMessage);
        EXPECT_NE(e.detail.find(c.detail), std::string::npos) << e.detail;
        EXPECT_EQ(server.requestCount(), 1u);
    }
}

TEST_F(Exchange, BytesAfterTheFirstObjectAreIgnored) {
    FakeServer server;
    server.misbehave(Misbehaviour::trailing_bytes);
    auto client = makeClient();
    Dict request;
    const MessageDict reply = client->send_and_receive_dict(request);
    EXPECT_TRUE(isOk(reply));
}

TEST_F(Exchange, RepliesOverTheLimitAreRefusedBeforeTheyAreStored) {
    {
        FakeServer server;
        server.setHandler("", [](const ReceivedRequest&) {
            return Answer::result(Dict(std::vector<char>(2 << 20, 'x')));
        });
        auto client = makeClient();
        client->setMaxReplyBytes(1 << 20);
        Dict request;
        const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
        EXPECT_EQ(e.type, ErrorDecodingMessage);
        EXPECT_NE(e.detail.find("larger than the limit of 1048576 bytes"), std::string::npos) << e.detail;
        EXPECT_EQ(server.requestCount(), 1u) << "an over-limit reply is not retried";

        // Within the limit the same client goes on working.
        client->setMaxReplyBytes(4 << 20);
        const MessageDict reply = client->send_and_receive_dict(request);
        EXPECT_EQ(reply.get("result").type, Dict::Bytes);
    }
    {  // No length announced: the body is cut off while it arrives.
        FakeServer server;
        server.setOversizeBytes(8 << 20);
        server.misbehave(Misbehaviour::oversized_chunked);
        auto client = makeClient();
        client->setMaxReplyBytes(1 << 20);
        Dict request;
        const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
        EXPECT_NE(e.detail.find("larger than the limit of 1048576 bytes"), std::string::npos) << e.detail;
    }
    {  // The default limit refuses an announced terabyte at once.
        FakeServer server;
        server.misbehave(Misbehaviour::huge_content_length);
        auto client = makeClient();
        Dict request;
        const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
        EXPECT_NE(e.detail.find("larger than the limit of 17179869184 bytes"), std::string::npos) << e.detail;
        EXPECT_EQ(server.requestCount(), 1u);
    }
}

// ---- the wire ----------------------------------------------------------------

TEST_F(Exchange, LargeRequestCarriesOnlyTheContentTypeHeaderAndIsNotHeldBack) {
    FakeServer server;
    auto client = makeClient();
    Dict request = map({{"pixels", Dict(std::vector<char>(3 << 20, 'p'))}});
    client->send_and_receive_dict(request);
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_GT(seen[0].body_size, std::size_t(3) << 20);
    EXPECT_FALSE(seen[0].hasHeader("Expect"));
    EXPECT_EQ(seen[0].header("Content-Type"), "application/x-msgpack");
    EXPECT_EQ(seen[0].message.get("pixels").type, Dict::Bytes);
}

TEST_F(Exchange, ExchangesReuseOneConnection) {
    FakeServer server;
    auto client = makeClient();
    for (int i = 0; i < 20; ++i) {
        Dict request;
        client->send_and_receive_dict(request);
    }
    EXPECT_EQ(server.requestCount(), 20u);
    EXPECT_EQ(server.connectionsAccepted(), 1);
}

// ---- sharing -----------------------------------------------------------------

TEST_F(Exchange, ClientsShareOneGlobalInitialisation) {
    ASSERT_EQ(Rest::Client::curlReferences(), 0);
    auto first = makeClient();
    auto second = makeClient();
    EXPECT_EQ(Rest::Client::curlReferences(), 2);
    first.reset();
    EXPECT_EQ(Rest::Client::curlReferences(), 1);

    FakeServer server;
    Dict request;
    second->send_and_receive_dict(request);  // still usable after the other client went
    second.reset();
    EXPECT_EQ(Rest::Client::curlReferences(), 0);
    Rest::Client::cleanupCURL();  // nothing held: no effect
    EXPECT_EQ(Rest::Client::curlReferences(), 0);

    auto again = makeClient();
    again->send_and_receive_dict(request);
    EXPECT_EQ(Rest::Client::curlReferences(), 1);
}

TEST_F(Exchange, ConcurrentExchangesAndReconnectShareOneClient) {
    FakeServer server;
    auto client = makeClient();
    std::atomic<bool> done{false};
    std::thread reconnect([&] {
        while (!done) {
            client->launch_attempted = false;  // the Reconnect button, on another thread
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> renders;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        renders.emplace_back([&] {
            for (int i = 0; i < 15; ++i) {
                Dict request;
                try {
                    client->send_and_receive_dict(request);
                } catch (...) {
                    ++failures;
                }
                if (client->launch_attempted) ++failures;
            }
        });
    }
    for (std::thread& t : renders) t.join();
    done = true;
    reconnect.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(server.requestCount(), 60u);
}

TEST_F(Exchange, TheSettledLaunchFlagWaitsForAnExchangeUnderWay) {
    // One thread's exchange launched the server and is still getting through;
    // another thread asking whether the server is known to be down must get
    // the answer that exchange ends with, not the flag half-way.
    FakeServer server;
    server.setSlowDelay(std::chrono::milliseconds(300));
    server.misbehave(Misbehaviour::slow_answer, 1);
    auto client = makeClient();
    client->launch_attempted = true;  // as the launch inside that exchange left it
    std::thread exchange([&] {
        Dict request;
        client->send_and_receive_dict(request);
    });
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(5)));
    EXPECT_TRUE(client->launch_attempted) << "the exchange has not got through yet";
    EXPECT_FALSE(client->launchAttemptedSettled());
    exchange.join();
}

}  // namespace
}  // namespace Test
}  // namespace TEV
