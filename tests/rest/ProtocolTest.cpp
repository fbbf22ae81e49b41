// The request protocol against the fake server's job model: immediate and
// queued results, poll cadence, progress, abort, server errors, time-out.
#include <set>
#include <thread>
#include <vector>

#include "RestTestHelpers.h"

namespace TEV {
namespace Test {
namespace {

using Protocol = ServerLinkTest;

Dict map(std::initializer_list<std::pair<const std::string, Dict>> entries) {
    return Dict(std::map<std::string, Dict>(entries));
}

JobScript queuedJob(int pending_polls) {
    JobScript script;
    script.queued = true;
    script.pending_polls = pending_polls;
    return script;
}

bool holdsInt(const Dict& d, long long v) { return d.type == Dict::Int && std::get<long long>(d.value) == v; }

// ---- the initial call --------------------------------------------------------

TEST_F(Protocol, ImmediateResultIsTakenWithoutPolling) {
    FakeServer server;
    auto client = makeClient();
    const Dict args = map({{"brightness", 0.5}});
    const MessageDict result = client->call_plugin("render", args);

    EXPECT_EQ(result.getFloat("brightness", 0), 0.5);
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "call_plugin");
    EXPECT_EQ(seen[0].message.getInt("method_version", 0), 1);
    EXPECT_EQ(seen[0].message.getString("function_name", ""), "render");
    EXPECT_EQ(seen[0].message.get("args").getFloat("brightness", 0), 0.5);
    EXPECT_EQ(args.getString("request_id", "none"), "none") << "args are not changed";
}

TEST_F(Protocol, ResultBesideQueuedStatusIsAnImmediateResult) {
    FakeServer server;
    Answer both = Answer::result(7);
    both.body["status"] = "queued";
    server.pushAnswer("call_plugin", both);
    auto client = makeClient();
    EXPECT_TRUE(holdsInt(client->call_plugin("f", Dict()), 7));
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(Protocol, FirstReplyThatIsNeitherResultNorQueuedFails) {
    FakeServer server;
    server.pushAnswer("call_plugin", Answer::misbehave(Misbehaviour::wrong_kinds));  // "status": 1, "error": 42
    Answer other;
    other.body["status"] = "running";
    server.pushAnswer("call_plugin", other);
    auto client = makeClient();
    for (int i = 0; i < 2; ++i) {
        const TEVErr e = thrownBy([&] { client->call_plugin("f", Dict()); });
        EXPECT_EQ(e.type, UnknownError);
        EXPECT_EQ(e.detail, "Failed to send message");
        EXPECT_EQ(e.context, "");
    }
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(Protocol, ServerErrorsNameTheirPhase) {
    FakeServer server;
    auto client = makeClient();

    JobScript failing_call;
    failing_call.call_error = "bad args";
    server.setJobScript(failing_call);
    TEVErr e = thrownBy([&] { client->call_plugin("f", Dict()); });
    EXPECT_EQ(e.type, ExceptionInPlugin);
    EXPECT_EQ(e.detail, "bad args");
    EXPECT_EQ(e.context, "While doing the initial call");

    JobScript failing_poll = queuedJob(2);
    failing_poll.poll_error = "worker died";
    server.setJobScript(failing_poll);
    e = thrownBy([&] { client->call_plugin("f", Dict()); });
    EXPECT_EQ(e.type, ExceptionInPlugin);
    EXPECT_EQ(e.detail, "worker died");
    EXPECT_EQ(e.context, "While getting the result");

    // An exchange error during polling passes through unchanged.
    server.setJobScript(queuedJob(2));
    server.pushAnswer("get_result", Answer::misbehave(Misbehaviour::empty_body));
    e = thrownBy([&] { client->call_plugin("f", Dict()); });
    EXPECT_EQ(e.type, ErrorDecodingMessage);
    EXPECT_EQ(e.detail, "insufficient bytes");
}

// ---- polling -----------------------------------------------------------------

TEST_F(Protocol, QueuedJobIsPolledWithOneMessageAtMostEvery10ms) {
    FakeServer server;
    server.setJobScript(queuedJob(5));
    auto client = makeClient();
    const MessageDict result = client->call_plugin("render", map({{"frame", 3}}));

    EXPECT_EQ(result.getInt("frame", 0), 3);
    const auto calls = server.requests("call_plugin");
    const auto polls = server.requests("get_result");
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(polls.size(), 6u);
    EXPECT_EQ(server.requests("get_progress").size(), 0u) << "no progress callback, no progress query";

    const std::string job_id = calls[0].message.getString("request_id", "");
    const std::string poll_id = polls[0].message.getString("request_id", "");
    EXPECT_EQ(poll_id.size(), 36u);
    EXPECT_NE(poll_id, job_id);
    for (const ReceivedRequest& poll : polls) {
        EXPECT_EQ(poll.message.getString("for_request_id", ""), job_id);
        EXPECT_EQ(poll.message.getString("request_id", ""), poll_id) << "one poll message per job";
    }
    // Five poll cycles of at least 10 ms between six polls (slack for the
    // loopback's jitter; unpaced polls would arrive within a few ms).
    EXPECT_GE(msBetween(polls.front().arrived, polls.back().arrived), 40);
}

TEST_F(Protocol, PendingMarkerOnlyAsAMapKeepsTheJobWaiting) {
    FakeServer server;
    server.setJobScript(queuedJob(0));
    Answer no_result;
    no_result.body = map({{"status", "working"}});
    server.pushAnswer("get_result", no_result);                                        // waits
    server.pushAnswer("get_result", Answer::result(map({{"result", "no_result_found"}})));  // waits
    server.pushAnswer("get_result", Answer::result("no_result_found"));                // finishes
    auto client = makeClient();
    const MessageDict result = client->call_plugin("f", Dict());
    EXPECT_EQ(result.type, Dict::String);
    EXPECT_EQ(std::get<std::string>(result.value), "no_result_found");
    EXPECT_EQ(server.requests("get_result").size(), 3u);
}

TEST_F(Protocol, ProgressIsAskedOnlyAfterTheFirst21msOfPolling) {
    FakeServer server;
    JobScript script = queuedJob(0);
    script.run_time = milliseconds(150);
    script.progress = {10, 42};
    server.setJobScript(script);
    auto client = makeClient();
    std::vector<int> reported;
    client->call_plugin("render", Dict(), {}, [&](int p) { reported.push_back(p); });

    const auto seen = server.requests();
    const auto queries = server.requests("get_progress");
    ASSERT_GE(seen.size(), 3u);
    ASSERT_FALSE(queries.empty());
    EXPECT_EQ(seen[1].method, "get_result") << "the first poll cycle asks no progress";
    // Polling began after the call's reply, so after the call arrived.
    EXPECT_GE(msBetween(seen[0].arrived, queries[0].arrived), 21);
    std::set<std::string> ids;
    for (const ReceivedRequest& q : queries) ids.insert(q.message.getString("request_id", ""));
    EXPECT_EQ(ids.size(), queries.size()) << "each progress query is a new message";

    ASSERT_EQ(reported.size(), queries.size());
    EXPECT_EQ(reported[0], 10);
    EXPECT_EQ(reported.back(), 42);
}

TEST_F(Protocol, ProgressRepliesWithErrorsOrOtherKindsDoNotFailTheJob) {
    FakeServer server;
    auto client = makeClient();
    std::vector<int> reported;
    auto record = [&](int p) { reported.push_back(p); };

    JobScript floats = queuedJob(0);
    floats.run_time = milliseconds(60);
    floats.progress = {42.5};
    server.setJobScript(floats);
    client->call_plugin("f", Dict(), {}, record);
    ASSERT_FALSE(reported.empty());
    for (int p : reported) EXPECT_EQ(p, 0) << "only an Int progress is read";

    reported.clear();
    JobScript errors = floats;
    errors.progress_error = "no progress here";
    server.setJobScript(errors);
    EXPECT_NO_THROW(client->call_plugin("f", Dict(), {}, record));
    EXPECT_TRUE(reported.empty());
}

TEST_F(Protocol, AbortAtOnceSendsOnlyTheAbortRequest) {
    FakeServer server;
    JobScript script = queuedJob(0);
    script.never_finishes = true;
    server.setJobScript(script);
    auto client = makeClient();

    CaptureStdout out;
    int progress_calls = 0;
    const MessageDict result =
        client->call_plugin("render", Dict(), [] { return true; }, [&](int) { ++progress_calls; });

    EXPECT_EQ(result.type, Dict::Null);
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].method, "abort_request");
    const std::string job_id = seen[0].message.getString("request_id", "");
    EXPECT_EQ(seen[1].message.getString("request_id", ""), job_id) << "the abort names the job itself";
    EXPECT_EQ(server.abortedJobs(), std::vector<std::string>{job_id});
    EXPECT_EQ(progress_calls, 0);
    EXPECT_EQ(out.text(), "[TEV] Abort for request " + job_id + "\n");
}

TEST_F(Protocol, NonStringRequestIdIsSentAsItIsAndPollingUsesTheEmptyId) {
    FakeServer server;
    server.setJobScript(queuedJob(1));
    auto client = makeClient();
    Dict request = map({{"method", "call_plugin"}, {"request_id", 99}});
    client->send_and_receive_request(request);

    const auto calls = server.requests("call_plugin");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(holdsInt(calls[0].message.get("request_id"), 99));
    for (const ReceivedRequest& poll : server.requests("get_result"))
        EXPECT_EQ(poll.message.get("for_request_id").type, Dict::String);
    EXPECT_EQ(server.requests("get_result").at(0).message.getString("for_request_id", "x"), "");
}

TEST_F(Protocol, JobThatNeverFinishesTimesOutWithoutAnAbort) {
    FakeServer server;
    JobScript script = queuedJob(0);
    script.never_finishes = true;
    server.setJobScript(script);
    auto client = makeClient();
    client->setRenderTimeout(1);

    const auto start = Clock::now();
    const TEVErr e = thrownBy([&] { client->call_plugin("render", Dict()); });
    const double took = secondsSince(start);
    EXPECT_EQ(e.type, TimeoutExceeded);
    EXPECT_EQ(e.detail, "1 seconds");
    EXPECT_EQ(e.message(), "Timeout exceeded: 1 seconds");
    EXPECT_GE(took, 2.0) << "the wait fails once whole seconds exceed the time-out";
    EXPECT_LT(took, 3.0) << "at the first check past 2 s, not a whole second later";
    EXPECT_TRUE(server.abortedJobs().empty());
}

TEST_F(Protocol, ConcurrentJobsOnOneClientEachGetTheirOwnResult) {
    FakeServer server;
    server.setJobScript(queuedJob(3));
    auto client = makeClient();
    std::vector<long long> results(4, -1);
    std::vector<std::thread> renders;
    for (int t = 0; t < 4; ++t)
        renders.emplace_back([&, t] { results[t] = client->call_plugin("render", map({{"frame", t}})).getInt("frame", -1); });
    for (std::thread& t : renders) t.join();
    EXPECT_EQ(results, (std::vector<long long>{0, 1, 2, 3}));
}

// ---- one-shot messages -------------------------------------------------------

TEST_F(Protocol, UiWaitsOnlyWhenAskedAndOneShotMessagesNameTheirMethod) {
    FakeServer server;
    auto client = makeClient();
    EXPECT_EQ(client->ui("panel", map({{"x", 1}}), false).type, Dict::Null);
    EXPECT_EQ(client->ui("panel", map({{"x", 1}}), true).getInt("x", 0), 1);
    client->unloadPlugin();
    client->openTEVApp();

    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].method, "ui");
    EXPECT_EQ(seen[0].message.getString("function_name", ""), "panel");
    EXPECT_EQ(seen[2].method, "unload_plugin");
    EXPECT_EQ(seen[3].method, "open_tev_app");
}

}  // namespace
}  // namespace Test
}  // namespace TEV
