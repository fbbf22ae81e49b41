// One conformance check: its name, what it demands of a server, and how it
// runs against the server under test.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RestClient.h"

namespace TEV {
namespace Conform {

// The server under test, as every check reaches it.
struct Target {
    int port = 0;
    // Longest wait for a job's result: the plug-in's render time-out.
    int timeout_seconds = 30;
    // Render parameters chosen by the user (--param NAME=VALUE): each takes
    // the place of the plug-in's parameter of that name, or joins them, in
    // every render the checks send.
    std::map<std::string, Dict> params;

    // A new client of the server, set up as the plug-in sets up its own: the
    // plug-in's identity and render time-out, on `port`. It never launches a
    // server.
    std::unique_ptr<Rest::Client> connect() const;

    // The render's "params": the plug-in's defaults (Brightness, Contrast and
    // Saturation 1.0, the effect on, Type 1) with `params` over them.
    Dict renderParams() const;
    // The same with Brightness 1.15, Contrast 1.3 and Saturation 1.6 where
    // `params` does not name them: values that change the frame, for the
    // checks that need a job to take a while (a server may return a frame
    // that the neutral defaults leave as it is without any work).
    Dict workingParams() const;
};

// Pass and Fail judge the server.
// Unseen: the check judges what a server does while a job runs, and every
// job it tried had ended before it could be watched (the server answered it
// at once). Nothing was judged; as the server showed no running job, this
// does not fail the run, and the summary names the check.
// Skip: the check did not run, or saw too little to judge for any other
// reason. A skipped required check fails the run, as a check that could not
// judge must not pass.
enum class Status { Pass, Fail, Skip, Unseen };

// What one run of a check concluded.
struct Verdict {
    Status status = Status::Fail;
    std::string got;  // what the server did, in a few words; for Skip and Unseen, why nothing was judged

    static Verdict pass(std::string got) { return {Status::Pass, std::move(got)}; }
    static Verdict fail(std::string got) { return {Status::Fail, std::move(got)}; }
    static Verdict skip(std::string why) { return {Status::Skip, std::move(why)}; }
    static Verdict unseen(std::string why) { return {Status::Unseen, std::move(why)}; }
};

struct Check {
    std::string name;                // "group.name"
    bool required = true;            // false: informational (timing), fails the run only past the time-out
    std::vector<std::string> needs;  // checks that must pass (or be Unseen) first in a full run
    std::string meaning;             // one sentence for --list and the README
    std::string expected;            // what a conforming server does, for the report
    // Runs the check. Failures of the server link (TEV::TEVErr) and of the
    // standard library may escape; the runner turns them into a failed verdict.
    std::function<Verdict(const Target&)> run;
};

// Every check, in the order of a full run (each after the checks it needs).
const std::vector<Check>& allChecks();

// The checks that `selector` names: one check by its full name, or every
// check of a group ("job" or "job."). Empty when nothing matches.
std::vector<const Check*> selectChecks(const std::string& selector);

}  // namespace Conform
}  // namespace TEV
