// A processing server that speaks the plug-in's protocol the way the
// checker expects, built on the fake server and its job model (JobModel),
// with at most one scripted fault of the table, and any faults of the job
// model besides: the counterpart that shows every check able to pass, to fail
// and to be unable to judge.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "FakeServer.h"
#include "JobModel.h"

namespace TEV {
namespace Test {

enum class Fault {
    none,
    http_404,                 // every request answered HTTP 404
    deep_nesting,             // every reply nested 100000 arrays deep
    no_keep_alive,            // the connection closes after every answer
    expect_required,          // HTTP 417 for a body over 1 MiB sent without "Expect: 100-continue"
    body_limit,               // HTTP 413 for a body over 64 MiB
    repeated_id_refused,      // an error for any request_id seen before
    unknown_method_drops,     // an unknown method: the connection closes without an answer
    // The job model's faults of the same names (JobFault):
    own_job_ids,              // jobs filed under identifiers of the server's own, not the call's request_id
    bare_pending_marker,      // pending answered {"result": "no_result_found"}
    progress_backwards,       // progress counts down
    abort_ignored,            // abort_request answered, the job goes on
    results_repeat,           // a finished job's result is handed out on every poll
    // Faults of the frames and of the server around the job model:
    swapped_8bit,             // 8-bit RGB results with width and height swapped
    sixteen_as_eight,         // 16-bit RGB results marked 8-bit
    short_float_block,        // float RGB results four bytes short
    alpha_dropped,            // 4-channel frames come back with 3 channels
    malformed_rendered,       // malformed images are rendered instead of refused
    long_reply_errors,        // error replies tell the request's whole story, too long for a line
    multiline_result_errors,  // refusals are queued; the job's result carries a multi-line error
    tiny_jobs_stall,          // jobs of frames under 32x32 pixels never finish
    slow_hd_8bit,             // 8-bit frames of 2 megapixels or more take 10 s
    results_crossed,          // (JobFault) frames cross between jobs in flight together
};

const char* name(Fault f);

class ConformingFake {
public:
    // Listens on a free port of 127.0.0.1. `job_faults` join the job model's
    // fault that `fault` names, if any.
    explicit ConformingFake(Fault fault = Fault::none, std::set<JobFault> job_faults = {});
    ~ConformingFake();
    ConformingFake(const ConformingFake&) = delete;
    ConformingFake& operator=(const ConformingFake&) = delete;

    int port() const { return server_.port(); }

    // From now on, a render under the plug-in's neutral parameters
    // (brightness, contrast and saturation 1) ends by its first poll, as on
    // a server that hands back a frame they leave unchanged without work.
    void skipNeutralWork();

private:
    Answer answer(const ReceivedRequest& request);
    Answer callPlugin(const Dict& message);
    Answer refuse(const std::string& text, const Dict& message) const;
    // A reply of the job model, its error told as refuse() tells it.
    Answer reply(Dict body, const Dict& message) const;
    Dict resultImage(const Dict& frame) const;

    Fault fault_;
    JobModel jobs_;
    FakeServer server_;
    std::mutex mutex_;
    std::set<std::string> seen_ids_;
    bool skip_neutral_work_ = false;
};

}  // namespace Test
}  // namespace TEV
