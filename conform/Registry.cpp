// The list of checks, in the order of a full run, and selection by name.
#include <algorithm>
#include <set>
#include <stdexcept>

#include "Groups.h"

namespace TEV {
namespace Conform {

namespace {

// The checks in group order, except that a check whose needs are not yet
// placed waits until they are and then follows at once (the large-frame
// check needs the float images to work).
std::vector<Check> orderedByNeeds(std::vector<Check> checks) {
    std::vector<Check> placed;
    std::vector<Check> waiting;
    std::set<std::string> names;
    const auto ready = [&](const Check& check) {
        return std::all_of(check.needs.begin(), check.needs.end(),
                           [&](const std::string& need) { return names.count(need) > 0; });
    };
    const auto place = [&](Check&& check) {
        names.insert(check.name);
        placed.push_back(std::move(check));
    };
    for (Check& check : checks) {
        if (!ready(check)) {
            waiting.push_back(std::move(check));
            continue;
        }
        place(std::move(check));
        for (bool moved = true; moved;) {
            moved = false;
            for (auto it = waiting.begin(); it != waiting.end(); ++it) {
                if (!ready(*it)) continue;
                place(std::move(*it));
                waiting.erase(it);
                moved = true;
                break;
            }
        }
    }
    if (!waiting.empty())
        throw std::logic_error("check " + waiting.front().name + " needs a check that does not exist or needs it");
    return placed;
}

}  // namespace

const std::vector<Check>& allChecks() {
    static const std::vector<Check> checks = [] {
        std::vector<Check> all;
        for (auto group : {transportChecks, envelopeChecks, jobChecks, imageChecks, errorChecks, timingChecks,
                           concurrencyChecks}) {
            for (Check& check : group()) all.push_back(std::move(check));
        }
        return orderedByNeeds(std::move(all));
    }();
    return checks;
}

std::vector<const Check*> selectChecks(const std::string& selector) {
    std::vector<const Check*> chosen;
    const std::string group = selector.empty() || selector.back() == '.' ? selector : selector + ".";
    for (const Check& check : allChecks()) {
        if (check.name == selector || (!selector.empty() && check.name.compare(0, group.size(), group) == 0))
            chosen.push_back(&check);
    }
    return chosen;
}

}  // namespace Conform
}  // namespace TEV
