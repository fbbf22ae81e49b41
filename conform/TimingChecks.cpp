// timing.*: what a frame costs on this server, reported for information;
// only the plug-in's render time-out makes them fail.
#include <algorithm>

#include "Frames.h"
#include "Groups.h"
#include "JobDriver.h"
#include "Replies.h"
#include "ResultImage.h"

namespace TEV {
namespace Conform {

namespace {

using Clock = std::chrono::steady_clock;

std::string spread(std::vector<Clock::duration> times, const std::string& of) {
    std::sort(times.begin(), times.end());
    return "median " + describeDuration(times[times.size() / 2]) + ", max " + describeDuration(times.back()) +
           " over " + std::to_string(times.size()) + " " + of;
}

// From the call's reply to the poll that brings the result, for jobs with
// next to no work: what queueing and handing out add to every frame.
Verdict pickup(const Target& target) {
    auto client = target.connect();
    const Image frame = makeFrame(16, 16, 3, 8);
    const auto limit = std::chrono::seconds(target.timeout_seconds);
    std::vector<Clock::duration> times;
    for (int i = 0; i < 5; ++i) {
        JobDriver job(*client);
        const MessageDict reply = job.start(renderCall(job.id(), Dict(frame), target.renderParams()));
        if (!isQueued(reply)) return Verdict::fail("the render call was not queued: " + brief(reply));
        const auto queued = Clock::now();
        const MessageDict answer = job.pollUntilDone(limit);
        const auto took = Clock::now() - queued;
        if (classifyPoll(answer) != PollAnswer::Result)
            return Verdict::fail("job " + std::to_string(i + 1) + " brought no result after " + describeDuration(took) +
                                 ": " + brief(answer));
        times.push_back(took);
    }
    return Verdict::pass(spread(times, "16x16 jobs"));
}

// The plug-in's whole exchange for an HD frame: its frame call, polls and
// progress queries.
Verdict roundTrip(const Target& target) {
    auto client = target.connect();
    const Image frame = makeFrame(1920, 1080, 3, 8);
    std::vector<Clock::duration> times;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        const MessageDict result =
            client->call_plugin_with_image("render", renderArgs(target.renderParams()), "image", frame, {}, [](int) {});
        times.push_back(Clock::now() - start);
        const std::string problem = resultImageProblem(result, frame);
        if (!problem.empty()) return Verdict::fail(problem);
    }
    return Verdict::pass(spread(times, "1920x1080 8-bit frames"));
}

}  // namespace

std::vector<Check> timingChecks() {
    return {
        {"timing.pickup", false, {"job.pending"},
         "Informational: for 16x16 jobs, the time from the call's reply to the poll that brings the result, "
         "polling every 10 ms as the plug-in does; fails only past the render time-out.",
         "each result within the 30 s render time-out", pickup},
        {"timing.round-trip", false, {"transport.no-expect", "images.8bit"},
         "Informational: the plug-in's whole exchange for a 1920x1080 8-bit frame (call, polls, progress, the "
         "frame both ways); fails only past the render time-out.",
         "each frame within the 30 s render time-out", roundTrip},
    };
}

}  // namespace Conform
}  // namespace TEV
