// job.*: the queued job as the plug-in runs it: call, polls, progress,
// abort, and a result handed out once.
#include <optional>
#include <thread>

#include "Frames.h"
#include "Groups.h"
#include "JobDriver.h"
#include "Replies.h"
#include "Text.h"

namespace TEV {
namespace Conform {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollSpacing = std::chrono::milliseconds(10);
// After abort_request, a job may take this long to leave the pending state.
constexpr auto kAbortGrace = std::chrono::seconds(1);

// A frame that most servers take a while over, so that its job can be
// watched and aborted while it runs: 1920x1080 float.
Image longJobFrame() { return makeFrame(1920, 1080, 3, 32); }

// The frames of a check that must watch a job run, tried in turn until one
// job runs long enough to judge: 1920x1080 float, then 3840x2160 float.
struct WatchFrame {
    unsigned short width, height;
};
constexpr WatchFrame kWatchFrames[] = {{1920, 1080}, {3840, 2160}};

std::string watchFrameName(const WatchFrame& f) {
    return std::to_string(f.width) + "x" + std::to_string(f.height) + " float";
}

// Progress answers a job must give before its result for the check to judge
// that they never decrease.
constexpr std::size_t kProgressAnswersToJudge = 3;
Image smallFrame() { return makeFrame(64, 48, 3, 8); }

std::string queuedExpectation(const Dict& reply) {
    return "the render call was not queued: " + brief(reply);
}

void pace(Clock::time_point cycle) {
    const auto spent = Clock::now() - cycle;
    if (spent < kPollSpacing) std::this_thread::sleep_for(kPollSpacing - spent);
}

std::string describePoll(const Dict& answer) {
    switch (classifyPoll(answer)) {
        case PollAnswer::Error: return "error " + quoted(errorText(answer));
        case PollAnswer::BareMarker:
            return "{\"result\": \"no_result_found\"} (the pending marker without its map: the plug-in takes it as "
                   "the job's result)";
        case PollAnswer::Nothing: return "neither \"result\" nor \"error\": " + brief(answer);
        case PollAnswer::Pending: return "pending";
        case PollAnswer::Result: return "the result " + brief(answer.get("result"), 80);
    }
    return brief(answer);
}

Verdict call(const Target& target) {
    auto client = target.connect();
    JobDriver job(*client);
    const MessageDict reply = job.start(renderCall(job.id(), Dict(smallFrame())));
    if (!isQueued(reply)) {
        if (reply.contains("result") && errorText(reply).empty())
            return Verdict::fail("an immediate result (the plug-in takes it, but can neither show progress nor abort "
                                 "the job): " + brief(reply));
        return Verdict::fail(brief(reply));
    }
    // Known by the call's request_id: neither a progress query nor a first
    // poll for it is an error.
    const MessageDict progress = job.progress();
    const MessageDict first_poll = job.poll();
    try {  // collects the result; what the polls say is for other checks to judge
        if (classifyPoll(first_poll) == PollAnswer::Pending)
            job.pollUntilDone(std::chrono::seconds(target.timeout_seconds));
    } catch (const TEVErr&) {
    }
    if (!errorText(progress).empty())
        return Verdict::fail("{\"status\": \"queued\"}, but get_progress for the call's request_id answered error " +
                             quoted(errorText(progress)));
    if (classifyPoll(first_poll) == PollAnswer::Error)
        return Verdict::fail("{\"status\": \"queued\"}, but get_result for the call's request_id answered " +
                             describePoll(first_poll));
    return Verdict::pass("{\"status\": \"queued\"}, and get_progress and get_result know the job by the call's "
                         "request_id");
}

// One job polled to its end; sets `pending_answers`. A verdict only when
// the job failed the check; a pass needs at least one pending answer.
std::optional<Verdict> watchPending(const Target& target, const WatchFrame& size, int& pending_answers,
                                    std::string& passed) {
    auto client = target.connect();
    JobDriver job(*client);
    const MessageDict reply = job.start(renderCall(job.id(), Dict(makeFrame(size.width, size.height, 3, 32))));
    if (!isQueued(reply)) return Verdict::fail(queuedExpectation(reply));
    const auto start = Clock::now();
    for (pending_answers = 0;; ++pending_answers) {
        const auto cycle = Clock::now();
        const MessageDict answer = job.poll();
        const PollAnswer kind = classifyPoll(answer);
        if (kind == PollAnswer::Result) {
            passed = std::to_string(pending_answers) + " pending answer(s) for a " + watchFrameName(size) +
                     " frame, then the result after " + describeDuration(Clock::now() - start);
            return std::nullopt;
        }
        if (kind != PollAnswer::Pending) return Verdict::fail(describePoll(answer));
        if (Clock::now() - start > std::chrono::seconds(target.timeout_seconds))
            return Verdict::fail("still pending after " + std::to_string(target.timeout_seconds) + " s");
        pace(cycle);
    }
}

Verdict pending(const Target& target) {
    std::string seen;
    for (const WatchFrame& size : kWatchFrames) {
        int pending_answers = 0;
        std::string passed;
        if (auto failed = watchPending(target, size, pending_answers, passed)) return *failed;
        if (pending_answers > 0) return Verdict::pass(passed);
        seen += (seen.empty() ? "" : ", ") + watchFrameName(size);
    }
    return Verdict::skip("the result came at the first poll for every frame (" + seen +
                         "): no pending answer to judge");
}

// "0, 16, 33 (x2), 100": a run of equal values is written once with its count.
std::string listValues(const std::vector<long long>& values) {
    std::string out;
    std::size_t runs = 0;
    for (std::size_t i = 0; i < values.size();) {
        std::size_t j = i;
        while (j < values.size() && values[j] == values[i]) ++j;
        if (++runs > 12) {
            out += ", ...";
            break;
        }
        if (i) out += ", ";
        out += std::to_string(values[i]);
        if (j - i > 1) out += " (x" + std::to_string(j - i) + ")";
        i = j;
    }
    return out;
}

// One job's progress, asked before every poll until the result comes; the
// answers go to `values`. A verdict only when the job failed the check.
std::optional<Verdict> watchProgress(const Target& target, const WatchFrame& size, std::vector<long long>& values) {
    auto client = target.connect();
    JobDriver job(*client);
    const MessageDict reply = job.start(renderCall(job.id(), Dict(makeFrame(size.width, size.height, 3, 32))));
    if (!isQueued(reply)) return Verdict::fail(queuedExpectation(reply));
    const auto start = Clock::now();
    for (;;) {
        const auto cycle = Clock::now();
        const MessageDict answer = job.progress();
        if (!errorText(answer).empty())
            return Verdict::fail("get_progress answered error " + quoted(errorText(answer)) +
                                 " while the job was not yet collected");
        const Dict& value = answer.get("result").get("progress");
        if (value.type != Dict::Int)
            return Verdict::fail("progress " + brief(answer) + ": the plug-in reads only an integer at "
                                 "result.progress");
        const long long percent = std::get<long long>(value.value);
        if (percent < 0 || percent > 100) return Verdict::fail("progress " + std::to_string(percent) + " of 100");
        if (!values.empty() && percent < values.back())
            return Verdict::fail("progress went back: " + listValues(values) + ", " + std::to_string(percent));
        values.push_back(percent);

        // The bare pending marker (job.pending's to judge) still means the job runs.
        const PollAnswer polled = classifyPoll(job.poll());
        if (polled != PollAnswer::Pending && polled != PollAnswer::BareMarker) return std::nullopt;
        if (Clock::now() - start > std::chrono::seconds(target.timeout_seconds))
            return Verdict::fail("no result after " + std::to_string(target.timeout_seconds) + " s; progress " +
                                 listValues(values));
        pace(cycle);
    }
}

Verdict progress(const Target& target) {
    std::string seen;
    for (const WatchFrame& size : kWatchFrames) {
        std::vector<long long> values;
        if (auto failed = watchProgress(target, size, values)) return *failed;
        if (values.size() >= kProgressAnswersToJudge)
            return Verdict::pass(std::to_string(values.size()) + " answer(s) for a " + watchFrameName(size) +
                                 " frame: " + listValues(values));
        seen += (seen.empty() ? "" : "; ") + std::to_string(values.size()) + " answer(s) (" + listValues(values) +
                ") for " + watchFrameName(size);
    }
    return Verdict::skip("the job ended before " + std::to_string(kProgressAnswersToJudge) +
                         " progress answers for every frame: " + seen + "; too few to judge that progress never "
                         "decreases");
}

Verdict abort(const Target& target) {
    auto client = target.connect();
    JobDriver job(*client);
    const MessageDict reply = job.start(renderCall(job.id(), Dict(longJobFrame())));
    if (!isQueued(reply)) return Verdict::fail(queuedExpectation(reply));
    job.abort();
    const auto aborted = Clock::now();
    for (;;) {
        const auto cycle = Clock::now();
        const MessageDict answer = job.poll();
        const PollAnswer kind = classifyPoll(answer);
        if (kind == PollAnswer::Error) return Verdict::pass("get_result after the abort: " + describePoll(answer));
        if (kind == PollAnswer::Result) {
            if (answer.path("result.result.image").isImage())
                return Verdict::fail("get_result after the abort delivered the job's frame: the job went on");
            return Verdict::pass("get_result after the abort: " + describePoll(answer));
        }
        if (kind != PollAnswer::Pending) return Verdict::fail("get_result after the abort: " + describePoll(answer));
        if (Clock::now() - aborted > kAbortGrace)
            return Verdict::fail("get_result still answers pending " + describeDuration(Clock::now() - aborted) +
                                 " after abort_request");
        pace(cycle);
    }
}

Verdict collectOnce(const Target& target) {
    auto client = target.connect();
    JobDriver job(*client);
    const MessageDict reply = job.start(renderCall(job.id(), Dict(smallFrame())));
    if (!isQueued(reply)) return Verdict::fail(queuedExpectation(reply));
    const MessageDict first = job.pollUntilDone(std::chrono::seconds(target.timeout_seconds));
    if (classifyPoll(first) != PollAnswer::Result) return Verdict::fail("no result to collect: " + describePoll(first));
    const MessageDict again = job.poll();
    switch (classifyPoll(again)) {
        case PollAnswer::Error: return Verdict::pass("a second get_result: " + describePoll(again));
        case PollAnswer::Result: return Verdict::fail("a second get_result handed the result out again");
        default: return Verdict::fail("a second get_result: " + describePoll(again));
    }
}

}  // namespace

std::vector<Check> jobChecks() {
    return {
        {"job.call", true, {"transport.decode"},
         "call_plugin \"render\" answers {\"status\": \"queued\"}, and the job is known by the call's own "
         "request_id.",
         "{\"status\": \"queued\"}; the request_id is known to get_progress and get_result", call},
        {"job.pending", true, {"envelope.identity", "transport.no-expect"},
         "get_result answers {\"result\": {\"result\": \"no_result_found\"}} while the job runs, then its result, "
         "within the render time-out. Needs one pending answer to judge (a 1920x1080 float frame, then a "
         "3840x2160 one); SKIP when every job ended by its first poll.",
         "pending answers in the marker's map form, then the result", pending},
        {"job.progress", true, {"envelope.identity", "transport.no-expect"},
         "get_progress answers {\"result\": {\"progress\": N}} with an integer N from 0 to 100 that never "
         "decreases, until the result is collected. Needs 3 answers before the result to judge (a 1920x1080 "
         "float frame, then a 3840x2160 one); SKIP when every job ended sooner.",
         "integer percentages that never decrease", progress},
        {"job.abort", true, {"envelope.identity", "transport.no-expect"},
         "abort_request ends a running job: later polls do not answer pending (after at most 1 s) and never "
         "deliver its frame.",
         "get_result after the abort answers an error or an ended result", abort},
        {"job.collect-once", true, {"job.pending"},
         "A finished job's result is handed out once; another get_result for it answers an error.",
         "an error for the second get_result", collectOnce},
    };
}

}  // namespace Conform
}  // namespace TEV
