// The paced wait with a time-out in whole seconds.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "RestClient.h"
#include "ThrownError.h"

namespace TEV {
namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double msSince(Clock::time_point start) { return msBetween(start, Clock::now()); }

TEST(WaitOrTimeout, CallsStartAtOnceThenAtMostEvery10msWithATickAfterEachPause) {
    std::vector<Clock::time_point> calls;
    int ticks = 0;
    const auto start = Clock::now();
    waitOrTimeout([&] {
        calls.push_back(Clock::now());
        return calls.size() < 5;
    }, 30, [&] { ++ticks; });

    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(ticks, 4);
    EXPECT_LT(msBetween(start, calls[0]), 10) << "sooner than one pause";
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_GE(msBetween(calls[i - 1], calls[i]), 9.5);
}

TEST(WaitOrTimeout, SlowConditionIsCalledAgainWithoutPause) {
    int n = 0;
    double in_condition = 0;  // ms, however long the machine made the 15 ms sleeps
    const auto start = Clock::now();
    waitOrTimeout([&] {
        const auto called = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        in_condition += msSince(called);
        return ++n < 4;
    }, 30, {});
    // Pauses after the three calls that returned true would add 30 ms.
    EXPECT_LT(msSince(start) - in_condition, 30);
}

TEST(WaitOrTimeout, FailsAtTheFirstCheckPastTheTimeOutInWholeSeconds) {
    const auto start = Clock::now();
    const TEVErr e = TEV::Test::thrownBy([] { waitOrTimeout([] { return true; }, 0, {}); });
    EXPECT_EQ(e.type, TimeoutExceeded);
    EXPECT_EQ(e.detail, "0 seconds");
    EXPECT_EQ(e.context, "");
    const double took = msSince(start);
    EXPECT_GE(took, 1000);
    EXPECT_LT(took, 2000) << "at the first check past 1 s, not a whole second later";
}

TEST(WaitOrTimeout, EmptyConditionAndThrowingCallbacksPassTheirExceptionsOn) {
    EXPECT_THROW(waitOrTimeout({}, 1, {}), std::bad_function_call);
    EXPECT_THROW(waitOrTimeout([]() -> bool { throw std::runtime_error("x"); }, 1, {}), std::runtime_error);
    EXPECT_THROW(waitOrTimeout([] { return true; }, 1, [] { throw 7; }), int);
}

}  // namespace
}  // namespace TEV
