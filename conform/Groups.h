// The checks of each group, and what they share. Internal to the checker.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "Check.h"

namespace TEV {
namespace Conform {

std::vector<Check> transportChecks();
std::vector<Check> envelopeChecks();
std::vector<Check> jobChecks();
std::vector<Check> imageChecks();
std::vector<Check> errorChecks();
std::vector<Check> timingChecks();
std::vector<Check> concurrencyChecks();

// A failure of the server link for a report: the error's message and, for a
// connection failure, what the calling thread's last attempt met.
std::string describeFailure(const TEVErr& e);

// "12 ms", "2.4 s".
std::string describeDuration(std::chrono::steady_clock::duration d);

}  // namespace Conform
}  // namespace TEV
