// Running checks against a server: order, skips, timing, and what each one
// concluded.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "Check.h"

namespace TEV {
namespace Conform {

struct Outcome {
    const Check* check = nullptr;
    Status status = Status::Skip;
    std::string got;
    std::chrono::steady_clock::duration took{};
};

// Why nothing can be checked at `port`: "" when something accepts a TCP
// connection on 127.0.0.1:`port` within two seconds, else what went wrong.
std::string unreachable(int port);

struct RunSettings {
    // In a full run a check whose needs neither passed nor were unseen is
    // skipped; with a hand-picked selection every check runs.
    bool follow_needs = true;
    // Where the server link's diagnostic lines go while the run lasts (they
    // are kept off standard output); none when null.
    std::ostream* client_lines = nullptr;
    // Called with each outcome as soon as it is known.
    std::function<void(const Outcome&)> on_outcome;
};

// Runs `checks` in the given order. A check that throws fails with what it
// threw. Once the server stops accepting connections, the remaining checks
// are skipped.
std::vector<Outcome> runChecks(const Target& target, const std::vector<const Check*>& checks,
                               const RunSettings& settings);

struct Summary {
    int required_passed = 0, required_failed = 0, required_skipped = 0, required_unseen = 0;
    int info_passed = 0, info_failed = 0, info_skipped = 0, info_unseen = 0;

    int checked() const { return required_passed + required_failed + info_passed + info_failed; }
    // Something was judged and passed, no required check failed or was
    // skipped, and no informational check failed (they fail only past the
    // render time-out). Unseen checks judged nothing and fail nothing.
    bool conforms() const {
        return required_passed + info_passed > 0 && required_failed == 0 && required_skipped == 0 &&
               info_failed == 0;
    }
};

Summary summarize(const std::vector<Outcome>& outcomes);

}  // namespace Conform
}  // namespace TEV
