// The checker's output: one line per check and a summary for people, one
// JSON document for machines, and the list of checks.
#pragma once

#include <string>
#include <vector>

#include "Runner.h"

namespace TEV {
namespace Conform {

// "PASS  transport.post   3 ms  expected: HTTP 200  got: HTTP 200, 27 bytes, ..."
// Informational checks carry "(info)" after their name. Printable on a
// terminal whatever the server sent.
std::string reportLine(const Outcome& outcome);

// What a run covered, for its summary: the selection and, when nothing
// could be checked, why.
struct Scope {
    std::vector<std::string> only;  // the --only names; empty: every check
    std::string problem;            // non-empty: nothing was checked, for this reason
};

// The closing lines: counts, what was run of the checker's checks, and the
// verdict, which names the failed and the skipped required checks, the
// failed informational checks (they fail only past the render time-out) and
// the unseen checks, which judged nothing. A partial run's verdict says it is
// one. Written for every outcome, an unreachable server included.
std::string summaryText(const std::vector<Outcome>& outcomes, const Target& target, const Scope& scope = {});

// The whole run as one JSON object, written for every outcome:
// {"server": "http://127.0.0.1:N/api" (null without a port), "conforms": bool,
//  "summary": {"required": {"passed", "failed", "skipped", "unseen"}, "informational": {...}},
//  "selection": [names] ([] for every check), "available": N, "ran": N, "not_run": N,
//  "problem": text (only when nothing could be checked), "verdict": the summary's verdict line,
//  "checks": [{"name", "required", "status": "pass"|"fail"|"skip"|"unseen", "expected", "got", "milliseconds"}]}
std::string jsonReport(const std::vector<Outcome>& outcomes, const Target& target, const Scope& scope = {});

// Every check with its kind, its needs and what it means, for --list.
std::string checkList();

}  // namespace Conform
}  // namespace TEV
