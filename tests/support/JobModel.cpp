// The job model shared by the fake servers, and its faults.
#include "JobModel.h"

#include <algorithm>
#include <utility>

namespace TEV {
namespace Test {

namespace {

Dict map(std::initializer_list<std::pair<const std::string, Dict>> entries) {
    return Dict(std::map<std::string, Dict>(entries));
}

Dict result(Dict value) { return map({{"result", std::move(value)}}); }
Dict error(const std::string& text) { return map({{"error", text}}); }
Dict unknownJob(const std::string& id) { return error("no job with request_id '" + id + "'"); }

}  // namespace

JobModel::JobModel(std::set<JobFault> faults) : faults_(std::move(faults)) {}

Dict JobModel::queue(const Dict& call, JobPlan plan) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string id =
        has(JobFault::own_job_ids) ? "job-" + std::to_string(next_own_id_++) : call.getString("request_id", "");
    Job job;
    job.plan = std::move(plan);
    job.started = Clock::now();
    jobs_[id] = std::move(job);
    return map({{"status", "queued"}});
}

bool JobModel::done(const Job& job) const {
    if (job.plan.never_finishes) return false;
    if (has(JobFault::instant_jobs)) return true;
    return job.polls > job.plan.pending_polls && Clock::now() - job.started >= job.plan.run_time;
}

void JobModel::cross(std::map<std::string, Job>::iterator it) {
    // Frames cross between jobs that were in flight together: the asker gets
    // the other job's frame, and the other job will get this one's. (Any
    // overlap counts, not only a finished other job: under a sanitizer each
    // owner collects its frame before the next job ends.)
    Job& job = it->second;
    if (job.plan.result.contains("error")) return;
    for (auto j = jobs_.begin(); j != jobs_.end(); ++j) {
        Job& other = j->second;
        if (j != it && !other.plan.never_finishes && !other.plan.result.contains("error") &&
            other.started + other.plan.run_time >= job.started) {
            std::swap(other.plan.result, job.plan.result);
            return;
        }
    }
}

Dict JobModel::poll(const Dict& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string id = message.getString("for_request_id", "");
    auto it = jobs_.find(id);
    if (it == jobs_.end()) return unknownJob(id);
    Job& job = it->second;
    if (!job.plan.poll_error.empty()) return error(job.plan.poll_error);
    ++job.polls;
    if (!done(job)) {
        if (has(JobFault::bare_pending_marker)) return result("no_result_found");
        return result(map({{"result", "no_result_found"}}));
    }
    if (has(JobFault::results_crossed)) cross(it);
    if (has(JobFault::results_repeat)) return result(job.plan.result);
    // Frames are large: moved out when the job goes.
    Dict reply = result(std::move(job.plan.result));
    jobs_.erase(it);
    return reply;
}

Dict JobModel::progress(const Dict& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string id = message.getString("for_request_id", "");
    auto it = jobs_.find(id);
    if (it == jobs_.end()) return unknownJob(id);
    Job& job = it->second;
    if (!job.plan.progress_error.empty()) return error(job.plan.progress_error);
    if (job.plan.progress_from_time) {
        double share = 1;  // instant jobs, and jobs without a run time, are done from the start
        if (job.plan.never_finishes)
            share = 0;
        else if (!has(JobFault::instant_jobs) && job.plan.run_time.count() > 0)
            share = std::chrono::duration<double>(Clock::now() - job.started).count() /
                    std::chrono::duration<double>(job.plan.run_time).count();
        long long percent = static_cast<long long>(std::min(1.0, share) * 100.0);
        if (has(JobFault::progress_backwards)) percent = 100 - percent;
        return result(map({{"progress", percent}}));
    }
    if (job.plan.progress.empty()) return result(Dict(std::map<std::string, Dict>()));
    const std::size_t i = std::min(job.progress_index++, job.plan.progress.size() - 1);
    return result(map({{"progress", job.plan.progress[i]}}));
}

Dict JobModel::abort(const Dict& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string id = message.getString("request_id", "");
    aborted_.push_back(id);
    const bool known = jobs_.count(id) > 0;
    if (!has(JobFault::abort_ignored)) jobs_.erase(id);
    return result(map({{"aborted", known}}));
}

std::vector<std::string> JobModel::aborted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return aborted_;
}

void JobModel::forgetAborted() {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_.clear();
}

}  // namespace Test
}  // namespace TEV
