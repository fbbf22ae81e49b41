// The processing server's job model, as the tests' fake servers play it:
// a call queues a job, "get_result" answers the pending marker until the job
// is done and then its result, "get_progress" its percentage, and
// "abort_request" ends it. Each job follows its own script (JobPlan); each
// way of breaking the protocol is a named fault (JobFault) of the model, so
// that the plain fake server and the conformance fake run the same model.
//
// Replies are the bodies a server sends with HTTP 200 ({"status": "queued"},
// {"result": ...}, {"error": ...}). Thread-safe.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "TEV.h"

namespace TEV {
namespace Test {

enum class JobFault {
    own_job_ids,          // jobs filed under identifiers of the model's own, not the call's request_id
    bare_pending_marker,  // pending answered {"result": "no_result_found"}, without its map
    progress_backwards,   // progress counts down: 100 minus the share done
    abort_ignored,        // abort_request is answered, the job goes on and stays known
    results_repeat,       // a finished job's result is handed out on every poll
    results_crossed,      // a finished job hands out the frame of another job in flight with it
    instant_jobs,         // every job is done by its first poll, as behind a slow link
};

// One job's script.
struct JobPlan {
    Dict result;  // the job's result, sent as {"result": result}; an "error" entry makes it a failed job
    std::chrono::steady_clock::duration run_time{};  // pending until this long after the call ...
    int pending_polls = 0;                           // ... and for this many polls
    bool never_finishes = false;
    // Successive "progress" values (the last one repeats); empty: {"result": {}}.
    std::vector<Dict> progress;
    // Instead of `progress`: the share of run_time elapsed, 0 to 100.
    bool progress_from_time = false;
    std::string progress_error;  // non-empty: every "get_progress" is answered {"error": text}
    std::string poll_error;      // non-empty: every "get_result" is answered {"error": text}
};

class JobModel {
public:
    explicit JobModel(std::set<JobFault> faults = {});

    bool has(JobFault f) const { return faults_.count(f) > 0; }

    // Queues a job for `call`; the reply {"status": "queued"}.
    Dict queue(const Dict& call, JobPlan plan);
    // Replies to "get_result", "get_progress" and "abort_request" messages.
    Dict poll(const Dict& message);
    Dict progress(const Dict& message);
    Dict abort(const Dict& message);

    // Identifiers named by "abort_request" messages, in order.
    std::vector<std::string> aborted() const;
    void forgetAborted();

private:
    using Clock = std::chrono::steady_clock;
    struct Job {
        JobPlan plan;
        Clock::time_point started;
        int polls = 0;
        std::size_t progress_index = 0;
    };

    bool done(const Job& job) const;
    // Under results_crossed: swaps `job`'s result with that of another job in flight with it.
    void cross(std::map<std::string, Job>::iterator job);

    const std::set<JobFault> faults_;
    mutable std::mutex mutex_;
    std::map<std::string, Job> jobs_;
    std::vector<std::string> aborted_;
    int next_own_id_ = 1;
};

}  // namespace Test
}  // namespace TEV
