// A server slower than the render time-out and a server that accepts a
// request and never answers, through the plug-in, whose client keeps the
// fixed 30 s render time-out (it has no setter): one job whose result never
// comes, and, while it is polled, another frame whose call is never answered.
// The stalled exchange holds the client, so the first job's polls wait too;
// both frames end in their defined overlays within the link's bound. About
// 35 s: this suite carries the ctest label "slow".
#include <atomic>
#include <future>

#include "FaultSupport.h"

namespace TEV::FaultTest {
namespace {

TEST_F(FaultTest, ASlowJobAndAStalledCallEndWithinTheRenderTimeOutBound) {
    startServer();
    std::atomic<int> calls{0};
    server->setHandler("call_plugin", [&calls](const ReceivedRequest&) {
        return ++calls == 1 ? Answer::queued() : Answer::misbehave(Misbehaviour::never_answer);
    });
    server->setHandler("get_result", [](const ReceivedRequest&) {
        return Answer::result(makeMap({{"result", "no_result_found"}}));
    });
    server->setHandler("get_progress", [](const ReceivedRequest&) { return Answer::result(makeMap({})); });

    start();
    const InstanceId slow_inst = host->createInstance();
    const InstanceId stalled_inst = host->createInstance();
    const PixelWorld slow_input = faultInput(16);
    const PixelWorld stalled_input = faultInput(8);

    auto render = [this](InstanceId inst, const PixelWorld& input) {
        return std::async(std::launch::async, [this, inst, &input] {
            const Clock::time_point start = Clock::now();
            RenderResult r = host->render(inst, input);
            return std::make_pair(std::move(r), secondsSince(start));
        });
    };
    auto slow = render(slow_inst, slow_input);
    ASSERT_TRUE(waitUntil([&] { return server->requests("get_result").size() >= 2; }, milliseconds(10000)));
    auto stalled = render(stalled_inst, stalled_input);
    ASSERT_TRUE(waitUntil([&] { return calls.load() >= 2; }, milliseconds(10000)));

    auto [stalled_result, stalled_seconds] = stalled.get();
    auto [slow_result, slow_seconds] = slow.get();

    // The stalled call: the attempt ends once no byte moved for the render
    // time-out, and no new attempt starts after 5 s.
    expectOverlay(stalled_result, stalled_input, cannotReach(), "stalled_call");
    EXPECT_GT(stalled_seconds, kRenderTimeout - 1);
    EXPECT_LT(stalled_seconds, kStalledExchangeBound);
    EXPECT_EQ(server->requests("call_plugin").size(), 2u) << "a stalled attempt is not followed by another";

    // The slow job: past the time-out, with the time-out as the detail.
    expectOverlay(slow_result, slow_input, pluginError("30 seconds", ""), "slow_job");
    EXPECT_GT(slow_seconds, kRenderTimeout);
    EXPECT_LT(slow_seconds, kStalledExchangeBound + kAnsweredExchangeBound);
    EXPECT_TRUE(server->abortedJobs().empty()) << "a time-out sends no abort";

    const std::vector<std::string> messages = logMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         "TEV Error in UniversalRender: Connection failed: Could not reach server."),
              1);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "TEV Error in UniversalRender: Timeout exceeded: 30 seconds"),
              1);
    expectBooksBalanced();
}

}  // namespace
}  // namespace TEV::FaultTest
