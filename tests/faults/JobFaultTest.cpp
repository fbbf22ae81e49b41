// Faults while a queued job runs, through the plug-in: the server dies
// between polls (for good, or back before the exchange gives up), and the
// user aborts (with the abort message answered, or failing itself).
#include <future>

#include <gmock/gmock.h>

#include "FaultSupport.h"

namespace TEV::FaultTest {
namespace {

using ::testing::HasSubstr;

JobScript endlessJob() {
    JobScript script = invertingJob();
    script.queued = true;
    script.never_finishes = true;
    return script;
}

// One render on its own thread; finish() gives its result and duration.
class RunningRender {
public:
    RunningRender(HeadlessHost& host, InstanceId inst, const PixelWorld& input)
        : result_(std::async(std::launch::async, [&host, inst, &input] {
              const Clock::time_point start = Clock::now();
              RenderResult r = host.render(inst, input);
              return std::make_pair(std::move(r), secondsSince(start));
          })) {}
    std::pair<RenderResult, double> finish() { return result_.get(); }

private:
    std::future<std::pair<RenderResult, double>> result_;
};

// Waits until the server has answered `polls` result polls.
bool polled(const FakeServer& server, std::size_t polls) {
    return waitUntil([&] { return server.requests("get_result").size() >= polls; }, milliseconds(10000));
}

TEST_F(FaultTest, AServerThatDiesInTheMiddleOfAJobEndsInCantConnectWithinTheBound) {
    startServer().setJobScript(endlessJob());
    const InstanceId inst = instance();
    const PixelWorld input = faultInput();
    RunningRender render(*host, inst, input);
    ASSERT_TRUE(polled(*server, 3));
    const Clock::time_point died = Clock::now();
    server->stop();
    auto [r, seconds] = render.finish();
    (void)seconds;
    const double after_death = secondsSince(died);

    expectOverlay(r, input, cannotReach(), "server_died_mid_job");
    EXPECT_LT(after_death, kFailingExchangeBound);
    EXPECT_EQ(logMessages().back(), "TEV Error in UniversalRender: Connection failed: Could not reach server.");
    EXPECT_TRUE(server->abortedJobs().empty());
    expectBooksBalanced();

    // Until Reconnect, frames are drawn without a word to any server.
    server.reset();
    startServer().setJobScript(invertingJob());
    double quick = 0;
    expectOverlay(timedRender(input, quick, inst), input, knownDown(), "server_died_known_down");
    EXPECT_EQ(server->requestCount(), 0u);
    host->userChangedParam(inst, kReconnect).expectOk();
    expectProcessed(timedRender(input, quick, inst), input);
    EXPECT_EQ(renderFailuresLogged(), 1);
}

TEST_F(FaultTest, AServerBackBeforeTheExchangeGivesUpReportsTheLostJob) {
    startServer().setJobScript(endlessJob());
    const InstanceId inst = instance();
    const PixelWorld input = faultInput(32);
    RunningRender render(*host, inst, input);
    ASSERT_TRUE(polled(*server, 2));
    const std::string job = renderCalls().at(0).message.getString("request_id", "?");
    server.reset();
    std::this_thread::sleep_for(milliseconds(600));
    startServer().setJobScript(endlessJob());  // knows nothing of the old job
    auto [r, seconds] = render.finish();

    const std::string lost = "no job with request_id '" + job + "'";
    expectOverlay(r, input, pluginError(lost, "While getting the result"), "server_back_job_lost");
    EXPECT_EQ(logMessages().back(), "TEV Error in UniversalRender: Exception in plugin: " + lost +
                                        ". While getting the result");
    EXPECT_LT(seconds, 0.6 + kFailingExchangeBound);
    expectBooksBalanced();
    // The exchange that got through ended the outage: the next frame is sent.
    JobScript quick = invertingJob();
    server->setJobScript(quick);
    double next = 0;
    expectProcessed(timedRender(input, next, inst), input);
}

class AbortMidJob : public FaultTest, public ::testing::WithParamInterface<int> {};

TEST_P(AbortMidJob, Returns517WithTheOutputUntouchedAndTellsTheServer) {
    startServer().setJobScript(endlessJob());
    const InstanceId inst = instance();
    const PixelWorld input = faultInput(GetParam());
    RunningRender render(*host, inst, input);
    ASSERT_TRUE(polled(*server, 3));
    const std::size_t polls_when_asked = server->requests("get_result").size();
    host->requestAbort();
    auto [r, seconds] = render.finish();
    (void)seconds;

    // At most the poll in flight when the abort was asked and the one its cycle ends with.
    EXPECT_LE(server->requests("get_result").size(), polls_when_asked + 2) << "the abort is noticed at the next poll";
    EXPECT_EQ(r.render.err, PF_Interrupt_CANCEL);
    EXPECT_TRUE(allZero(r.output)) << "the output world was written";
    EXPECT_TRUE(r.output.paddingIntact());
    const std::vector<std::string> aborted = server->abortedJobs();
    ASSERT_EQ(aborted.size(), 1u);
    EXPECT_EQ(aborted[0], renderCalls().at(0).message.getString("request_id", "?"));
    EXPECT_EQ(renderFailuresLogged(), 0) << "a cancel is no failure";
    expectBooksBalanced();

    // The next frame, no longer cancelled, renders normally.
    host->clearAbort();
    server->setJobScript(invertingJob());
    double next = 0;
    expectProcessed(timedRender(input, next, inst), input);
}

INSTANTIATE_TEST_SUITE_P(Depths, AbortMidJob, ::testing::Values(8, 16, 32),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "depth" + std::to_string(info.param);
                         });

TEST_F(FaultTest, AnAbortWhoseMessageFailsStillReturns517AndLogsTheFailure) {
    startServer().setJobScript(endlessJob());
    server->setHandler("abort_request", [](const ReceivedRequest&) {
        return Answer::misbehave(Misbehaviour::garbage_body);
    });
    const InstanceId inst = instance();
    const PixelWorld input = faultInput();
    RunningRender render(*host, inst, input);
    ASSERT_TRUE(polled(*server, 2));
    host->requestAbort();
    auto [r, seconds] = render.finish();
    (void)seconds;

    EXPECT_EQ(r.render.err, PF_Interrupt_CANCEL);
    EXPECT_TRUE(allZero(r.output)) << "the output world was written";
    EXPECT_THAT(lastLogged("TEV Error in UniversalRender: "), HasSubstr("Error decoding message"));
    EXPECT_EQ(server->requests("abort_request").size(), 1u);
    expectBooksBalanced();
}

}  // namespace
}  // namespace TEV::FaultTest
