// Transport faults through the plug-in: a refused connection, broken replies
// and HTTP errors, each for one attempt (retried, the frame comes back
// processed) and for good (the exchange gives up within its bound and the
// frame shows "Can't connect"), with the log line and balanced books.
#include <sstream>

#include "FaultSupport.h"

namespace TEV::FaultTest {
namespace {

constexpr const char* kGaveUpLine = "TEV Error in UniversalRender: Connection failed: Could not reach server.";

TEST(FaultFrames, TheTwoCantConnectOverlaysDifferAtTheTestFrameSize) {
    // Otherwise no test could tell a frame that gave up from one that was never sent.
    for (int depth : {8, 16, 32}) {
        const PixelWorld input = faultInput(depth);
        const Overlay a = cannotReach();
        const Overlay b = knownDown();
        EXPECT_GT(differingPixels(expectedOverlay(input, a.line1, a.line2, a.line3),
                                  expectedOverlay(input, b.line1, b.line2, b.line3)),
                  0)
            << depth;
    }
}

TEST_F(FaultTest, ARefusedConnectionGivesUpWithinTheBoundAndLaterFramesSendNothing) {
    const PixelWorld input = faultInput();
    double seconds = 0;
    const RenderResult r = timedRender(input, seconds);
    expectOverlay(r, input, cannotReach(), "fault_connection_refused");
    // Refused attempts fail at once, so all 25 are made, 150 ms apart.
    EXPECT_GT(seconds, (kMaxAttempts - 1) * kAttemptSpacing - 0.1);
    EXPECT_LT(seconds, kFailingExchangeBound);
    EXPECT_EQ(logMessages().back(), kGaveUpLine);
    expectBooksBalanced();

    // The failed launch is remembered: the next frame is drawn at once.
    startServer().setJobScript(invertingJob());
    const RenderResult again = timedRender(input, seconds);
    expectOverlay(again, input, knownDown(), "fault_connection_refused_known_down");
    EXPECT_LT(seconds, kAnsweredExchangeBound);
    EXPECT_EQ(server->requestCount(), 0u);
    EXPECT_EQ(renderFailuresLogged(), 1) << "the known-down frame is not logged";
}

class TransportFault : public FaultTest, public ::testing::WithParamInterface<Misbehaviour> {};

TEST_P(TransportFault, OnceIsRetriedAndTheFrameComesBackProcessed) {
    startServer().setJobScript(invertingJob());
    server->misbehave(GetParam(), 1);
    const PixelWorld input = faultInput();
    double seconds = 0;
    const RenderResult r = timedRender(input, seconds);
    expectProcessed(r, input);
    EXPECT_LT(seconds, kAnsweredExchangeBound + 1.0);
    EXPECT_EQ(renderCalls().size(), 2u) << "the call is sent again after the fault";
    EXPECT_EQ(renderFailuresLogged(), 0);
    expectBooksBalanced();
    // The attempt that got through ended the outage it began.
    host->updateParamsUI(instance()).expectOk();
    EXPECT_TRUE(host->paramHidden(instance(), kReconnect));
}

TEST_P(TransportFault, ForGoodGivesUpWithinTheBoundWithCantConnect) {
    startServer().setJobScript(invertingJob());
    server->misbehave(GetParam());
    const PixelWorld input = faultInput();
    double seconds = 0;
    const RenderResult r = timedRender(input, seconds);
    expectOverlay(r, input, cannotReach(), std::string("fault_for_good_") + name(GetParam()));
    EXPECT_LT(seconds, kFailingExchangeBound);
    const std::size_t attempts = server->requestCount();
    EXPECT_GE(attempts, 2u);
    EXPECT_LE(attempts, static_cast<std::size_t>(kMaxAttempts));
    EXPECT_EQ(logMessages().back(), kGaveUpLine);
    EXPECT_EQ(renderFailuresLogged(), 1);
    expectBooksBalanced();
}

INSTANTIATE_TEST_SUITE_P(Faults, TransportFault,
                         ::testing::Values(Misbehaviour::reset_mid_reply, Misbehaviour::close_after_headers,
                                           Misbehaviour::close_without_answer, Misbehaviour::http_404,
                                           Misbehaviour::http_500),
                         [](const ::testing::TestParamInfo<Misbehaviour>& info) { return name(info.param); });

TEST_F(FaultTest, AResetInTheMiddleOfAPollIsRetriedAndTheJobFinishes) {
    JobScript script = invertingJob();
    script.queued = true;
    script.pending_polls = 3;
    startServer().setJobScript(script);
    server->pushAnswer("get_result", Answer::misbehave(Misbehaviour::reset_mid_reply));
    const PixelWorld input = faultInput(16);
    double seconds = 0;
    const RenderResult r = timedRender(input, seconds);
    expectProcessed(r, input);
    EXPECT_LT(seconds, kAnsweredExchangeBound + 1.0);
    EXPECT_EQ(renderFailuresLogged(), 0);
}

TEST_F(FaultTest, AServerThatIsSlowButWithinTheTimeOutIsAwaited) {
    startServer().setJobScript(invertingJob());
    server->setSlowDelay(milliseconds(1500));
    server->misbehave(Misbehaviour::slow_answer, 1);
    const PixelWorld input = faultInput(32);
    double seconds = 0;
    const RenderResult r = timedRender(input, seconds);
    expectProcessed(r, input);
    EXPECT_GE(seconds, 1.5);
    EXPECT_EQ(renderCalls().size(), 1u) << "a slow answer is not a failed attempt";
}

}  // namespace
}  // namespace TEV::FaultTest
