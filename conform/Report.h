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

// The closing lines: counts, the verdict, and the failed required checks.
std::string summaryText(const std::vector<Outcome>& outcomes, const Target& target);

// The whole run as one JSON object:
// {"server": "http://127.0.0.1:N/api", "conforms": bool,
//  "summary": {"required": {"passed", "failed", "skipped"}, "informational": {...}},
//  "checks": [{"name", "required", "status": "pass"|"fail"|"skip", "expected", "got", "milliseconds"}]}
std::string jsonReport(const std::vector<Outcome>& outcomes, const Target& target);

// Every check with its kind, its needs and what it means, for --list.
std::string checkList();

}  // namespace Conform
}  // namespace TEV
