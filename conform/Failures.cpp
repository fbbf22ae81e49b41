// How failures of the server link and durations read in a report.
#include <cstdio>

#include "ClientLines.h"
#include "Groups.h"

namespace TEV {
namespace Conform {

std::string describeFailure(const TEVErr& e) {
    std::string text = e.message();
    if (e.type == ConnectionFailed) {
        const std::string last = lastAttemptFailure();
        if (!last.empty()) text += " (last attempt: " + last + ")";
    }
    return text;
}

std::string describeDuration(std::chrono::steady_clock::duration d) {
    const double ms = std::chrono::duration<double, std::milli>(d).count();
    char out[32];
    if (ms < 1000.0)
        std::snprintf(out, sizeof out, "%.0f ms", ms);
    else
        std::snprintf(out, sizeof out, "%.1f s", ms / 1000.0);
    return out;
}

}  // namespace Conform
}  // namespace TEV
