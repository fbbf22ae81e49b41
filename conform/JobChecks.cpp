// job.*: the queued job as the plug-in runs it: call, polls, progress,
// abort, and a result handed out once.
#include <functional>
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

std::string queuedExpectation(const Dict& reply) { return "the render call was not queued: " + brief(reply); }

// The tries of a check that must watch a job run, in turn until one job runs
// long enough to judge: a 1920x1080 float frame with the render's
// parameters, the same frame with parameters that change it (a server may
// hand back a frame that the neutral defaults leave as it is without any
// work), then a 3840x2160 float frame with those.
struct WatchAttempt {
    unsigned short width, height;
    Dict params;
    std::string name;  // "1920x1080 float", "3840x2160 float at brightness 1.15, ..."
    // The first try is the checker's own render: its refusal fails the
    // check. A later try's refusal of its larger frame or other parameters
    // is only noted.
    bool first;
};

// "brightness 1.15, contrast 1.3": the entries of `changed` that differ from `base`.
std::string differences(const Dict& base, const Dict& changed) {
    std::string out;
    for (const auto& [name, value] : std::get<std::map<std::string, Dict>>(changed.value))
        if (brief(base.get(name)) != brief(value)) out += (out.empty() ? "" : ", ") + name + " " + brief(value);
    return out;
}

std::vector<WatchAttempt> watchAttempts(const Target& target) {
    const Dict plain = target.renderParams();
    const Dict working = target.workingParams();
    const std::string changed = differences(plain, working);
    const std::string at = changed.empty() ? "" : " at " + changed;
    std::vector<WatchAttempt> attempts{{1920, 1080, plain, "1920x1080 float", true}};
    if (!changed.empty()) attempts.push_back({1920, 1080, working, "1920x1080 float" + at, false});
    attempts.push_back({3840, 2160, working, "3840x2160 float" + at, false});
    return attempts;
}

// Watches one job of `attempt`: a verdict once it has judged, or nothing
// when the job ended before it could be watched, with what was seen in `saw`.
using Watch = std::function<std::optional<Verdict>(const WatchAttempt& attempt, JobDriver& job, std::string& saw)>;

// Runs `watch` on a job of each attempt in turn until one judges; when none
// does, `unseen` makes the verdict from what each saw ("; "-separated).
Verdict watchUntilJudged(const Target& target, const Watch& watch,
                         const std::function<Verdict(const std::string& seen)>& unseen) {
    std::string seen;
    for (const WatchAttempt& attempt : watchAttempts(target)) {
        auto client = target.connect();
        JobDriver job(*client);
        const MessageDict reply =
            job.start(renderCall(job.id(), Dict(makeFrame(attempt.width, attempt.height, 3, 32)), attempt.params));
        std::string saw;
        if (!isQueued(reply)) {
            if (attempt.first) return Verdict::fail(queuedExpectation(reply));
            saw = "a refusal of " + attempt.name + ": " + brief(reply, 80);
        } else if (auto verdict = watch(attempt, job, saw)) {
            return *verdict;
        }
        seen += (seen.empty() ? "" : "; ") + saw;
    }
    return unseen(seen);
}

// Progress answers a job must give before its result for the check to judge
// that they never decrease.
constexpr std::size_t kProgressAnswersToJudge = 3;
Image smallFrame() { return makeFrame(64, 48, 3, 8); }

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
    const MessageDict reply = job.start(renderCall(job.id(), Dict(smallFrame()), target.renderParams()));
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

// One job polled to its end: judged once it was seen pending.
std::optional<Verdict> watchPending(const Target& target, const WatchAttempt& attempt, JobDriver& job,
                                    std::string& saw) {
    const auto start = Clock::now();
    for (int pending_answers = 0;; ++pending_answers) {
        const auto cycle = Clock::now();
        const MessageDict answer = job.poll();
        const PollAnswer kind = classifyPoll(answer);
        if (kind == PollAnswer::Result) {
            if (pending_answers > 0)
                return Verdict::pass(std::to_string(pending_answers) + " pending answer(s) for a " + attempt.name +
                                     " frame, then the result after " + describeDuration(Clock::now() - start));
            saw = "the result at the first poll for " + attempt.name;
            return std::nullopt;
        }
        if (kind != PollAnswer::Pending) return Verdict::fail(describePoll(answer));
        if (Clock::now() - start > std::chrono::seconds(target.timeout_seconds))
            return Verdict::fail("still pending after " + std::to_string(target.timeout_seconds) + " s");
        pace(cycle);
    }
}

Verdict pending(const Target& target) {
    return watchUntilJudged(
        target,
        [&](const WatchAttempt& attempt, JobDriver& job, std::string& saw) {
            return watchPending(target, attempt, job, saw);
        },
        [](const std::string& seen) { return Verdict::unseen("no pending answer to judge: " + seen); });
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

// One job's progress, asked before every poll until the result comes: judged
// once it gave enough answers, or at the first answer that breaks the rule.
std::optional<Verdict> watchProgress(const Target& target, const WatchAttempt& attempt, JobDriver& job,
                                     std::string& saw) {
    std::vector<long long> values;
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

        // The bare pending marker (job.pending's to judge) still means the job
        // runs; only a result ends the watch without a verdict.
        const MessageDict poll = job.poll();
        const PollAnswer polled = classifyPoll(poll);
        if (polled == PollAnswer::Result) break;
        if (polled != PollAnswer::Pending && polled != PollAnswer::BareMarker)
            return Verdict::fail("get_result between the progress answers: " + describePoll(poll));
        if (Clock::now() - start > std::chrono::seconds(target.timeout_seconds))
            return Verdict::fail("no result after " + std::to_string(target.timeout_seconds) + " s; progress " +
                                 listValues(values));
        pace(cycle);
    }
    if (values.size() >= kProgressAnswersToJudge)
        return Verdict::pass(std::to_string(values.size()) + " answer(s) for a " + attempt.name +
                             " frame: " + listValues(values));
    saw = std::to_string(values.size()) + " answer(s) (" + listValues(values) + ") for " + attempt.name;
    return std::nullopt;
}

Verdict progress(const Target& target) {
    return watchUntilJudged(
        target,
        [&](const WatchAttempt& attempt, JobDriver& job, std::string& saw) {
            return watchProgress(target, attempt, job, saw);
        },
        [](const std::string& seen) {
            return Verdict::unseen("too few progress answers to judge that they never decrease (" +
                                   std::to_string(kProgressAnswersToJudge) +
                                   " needed before the result), each an integer percentage: " + seen);
        });
}

// Aborts a job seen running at its first poll, and judges what follows.
std::optional<Verdict> watchAbort(const WatchAttempt& attempt, JobDriver& job, std::string& saw) {
    const MessageDict first = job.poll();
    const PollAnswer first_kind = classifyPoll(first);
    if (first_kind == PollAnswer::Result) {
        saw = "the result at the first poll for " + attempt.name;
        return std::nullopt;
    }
    // The bare pending marker (job.pending's to judge) still means the job runs.
    if (first_kind != PollAnswer::Pending && first_kind != PollAnswer::BareMarker)
        return Verdict::fail("get_result before the abort: " + describePoll(first));
    job.abort();
    const std::string after = "get_result after aborting a running " + attempt.name + " job: ";
    const auto aborted = Clock::now();
    for (;;) {
        const auto cycle = Clock::now();
        const MessageDict answer = job.poll();
        const PollAnswer kind = classifyPoll(answer);
        if (kind == PollAnswer::Error) return Verdict::pass(after + describePoll(answer));
        if (kind == PollAnswer::Result) {
            if (answer.path("result.result.image").isImage())
                return Verdict::fail(after + "it delivered the job's frame: the job went on");
            return Verdict::pass(after + describePoll(answer));
        }
        if (kind != PollAnswer::Pending) return Verdict::fail(after + describePoll(answer));
        if (Clock::now() - aborted > kAbortGrace)
            return Verdict::fail("get_result still answers pending " + describeDuration(Clock::now() - aborted) +
                                 " after abort_request");
        pace(cycle);
    }
}

Verdict abort(const Target& target) {
    return watchUntilJudged(target, watchAbort, [](const std::string& seen) {
        return Verdict::unseen("no running job to abort: " + seen);
    });
}

Verdict collectOnce(const Target& target) {
    auto client = target.connect();
    JobDriver job(*client);
    const MessageDict reply = job.start(renderCall(job.id(), Dict(smallFrame()), target.renderParams()));
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
         "within the render time-out. Needs one pending answer to judge (a 1920x1080 float frame, the same with "
         "parameters that change it, then a 3840x2160 one); UNSEEN when every job ended by its first poll.",
         "pending answers in the marker's map form, then the result", pending},
        {"job.progress", true, {"envelope.identity", "transport.no-expect"},
         "get_progress answers {\"result\": {\"progress\": N}} with an integer N from 0 to 100 that never "
         "decreases, until the result is collected. Needs 3 answers before the result to judge that it never "
         "decreases (the frames of job.pending); UNSEEN when every job ended sooner, FAIL for any answer of "
         "another form.",
         "integer percentages that never decrease", progress},
        {"job.abort", true, {"envelope.identity", "transport.no-expect"},
         "abort_request ends a job seen running (pending at a poll): later polls do not answer pending (after at "
         "most 1 s) and never deliver its frame. UNSEEN when every job ended by its first poll (the frames of "
         "job.pending).",
         "get_result after the abort answers an error or an ended result", abort},
        {"job.collect-once", true, {"job.pending"},
         "A finished job's result is handed out once; another get_result for it answers an error.",
         "an error for the second get_result", collectOnce},
    };
}

}  // namespace Conform
}  // namespace TEV
