// Formatting of outcomes for a terminal and for JSON.
#include "Report.h"

#include <cstdio>
#include <sstream>

#include "Groups.h"
#include "JsonText.h"
#include "Text.h"

namespace TEV {
namespace Conform {

namespace {

constexpr std::size_t kNameColumn = 28;

const char* statusWord(Status s) {
    switch (s) {
        case Status::Pass: return "PASS";
        case Status::Fail: return "FAIL";
        case Status::Skip: return "SKIP";
        case Status::Unseen: return "UNSEEN";
    }
    return "?";
}

const char* statusJson(Status s) {
    switch (s) {
        case Status::Pass: return "pass";
        case Status::Fail: return "fail";
        case Status::Skip: return "skip";
        case Status::Unseen: return "unseen";
    }
    return "?";
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string endpoint(const Target& target) { return "http://127.0.0.1:" + std::to_string(target.port) + "/api"; }

std::string counts(int passed, int failed, int skipped, int unseen) {
    return std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " + std::to_string(skipped) +
           " skipped" + (unseen ? ", " + std::to_string(unseen) + " unseen" : "");
}

}  // namespace

std::string reportLine(const Outcome& o) {
    std::string name = o.check->name + (o.check->required ? "" : " (info)");
    char time[16];
    std::snprintf(time, sizeof time, "%8s", o.status == Status::Skip ? "-" : describeDuration(o.took).c_str());
    // A status word longer than its column pushes the name, never the time.
    const std::string head = padded(std::string(statusWord(o.status)) + " ", 6) + name;
    return padded(head, 6 + kNameColumn) + time + "  expected: " + o.check->expected + "  got: " + printable(o.got);
}

namespace {

std::string names(const std::vector<Outcome>& outcomes, bool required, Status status) {
    std::string out;
    for (const Outcome& o : outcomes)
        if (o.check->required == required && o.status == status) out += " " + o.check->name;
    return out;
}

std::string selection(const Scope& scope) {
    std::string out;
    for (const std::string& name : scope.only) out += (out.empty() ? "--only " : " --only ") + name;
    return out;
}

int ran(const std::vector<Outcome>& outcomes) {
    int n = 0;
    for (const Outcome& o : outcomes) n += o.status != Status::Skip;
    return n;
}

// Every check of the checker ran (none was left out or skipped).
bool fullRun(const std::vector<Outcome>& outcomes, const Scope& scope) {
    return scope.only.empty() && static_cast<std::size_t>(ran(outcomes)) == allChecks().size();
}

// What was run of the checker's checks: "all 22 checks", "19 of 22 checks,
// 3 not run", "5 of 22 checks (--only job), 17 not run".
std::string coverage(const std::vector<Outcome>& outcomes, const Scope& scope) {
    const std::size_t available = allChecks().size();
    const int run = ran(outcomes);
    std::string out = fullRun(outcomes, scope)
                          ? "all " + std::to_string(available) + " checks"
                          : std::to_string(run) + " of " + std::to_string(available) + " checks";
    if (!scope.only.empty()) out += " (" + selection(scope) + ")";
    const std::size_t not_run = available - static_cast<std::size_t>(run);
    if (not_run) out += ", " + std::to_string(not_run) + " not run";
    return out;
}

std::string verdictLine(const std::vector<Outcome>& outcomes, const Scope& scope) {
    const Summary s = summarize(outcomes);
    if (!scope.problem.empty()) return "The server was not checked: " + scope.problem + ".";
    if (outcomes.empty()) return "No check was selected; nothing was checked.";
    // What the server never showed is said whatever the verdict.
    std::string unseen;
    if (s.required_unseen + s.info_unseen)
        unseen = " Not seen, so not judged (every job they tried ended before it could be watched):" +
                 names(outcomes, true, Status::Unseen) + names(outcomes, false, Status::Unseen) + ".";
    if (s.conforms()) {
        if (fullRun(outcomes, scope) && unseen.empty())
            return "The server passes every required check of a full run (" + coverage(outcomes, scope) + ").";
        if (fullRun(outcomes, scope))
            return "The server conforms on what it showed: it passes every required check of a full run (" +
                   coverage(outcomes, scope) + ") that could judge it." + unseen;
        return "The server passes every required check of the " + std::to_string(ran(outcomes)) + " run (" +
               (scope.only.empty() ? "a partial run" : selection(scope)) + ")" +
               (unseen.empty() ? "" : " that could judge it") + "; " +
               std::to_string(allChecks().size() - static_cast<std::size_t>(ran(outcomes))) +
               " not run, so this is no verdict on the whole protocol." + unseen;
    }
    // Failures judge the server; skips only leave it unproven.
    std::string out = s.required_failed || s.info_failed ? "The server does not conform."
                                                         : "The server was not shown to conform.";
    if (s.required_failed) out += " Failed:" + names(outcomes, true, Status::Fail) + ".";
    if (s.required_skipped) out += " Not judged (a skipped required check fails the run):" +
                                   names(outcomes, true, Status::Skip) + ".";
    if (s.info_failed) out += " Informational, failed:" + names(outcomes, false, Status::Fail) + ".";
    if (s.checked() == 0 && !s.required_skipped) out += " No check could judge the server.";
    return out + unseen;
}

}  // namespace

std::string summaryText(const std::vector<Outcome>& outcomes, const Target& target, const Scope& scope) {
    const Summary s = summarize(outcomes);
    std::ostringstream out;
    out << outcomes.size() << " check(s) against " << endpoint(target) << ": required "
        << counts(s.required_passed, s.required_failed, s.required_skipped, s.required_unseen) << "; informational "
        << counts(s.info_passed, s.info_failed, s.info_skipped, s.info_unseen) << "\n";
    out << "Ran " << coverage(outcomes, scope) << ".\n";
    out << printable(verdictLine(outcomes, scope)) << "\n";
    return out.str();
}

std::string jsonReport(const std::vector<Outcome>& outcomes, const Target& target, const Scope& scope) {
    using JsonText::Json;
    const Summary s = summarize(outcomes);
    const int run = ran(outcomes);
    const auto tally = [](int passed, int failed, int skipped, int unseen) {
        return Json{{"passed", passed}, {"failed", failed}, {"skipped", skipped}, {"unseen", unseen}};
    };
    Json report = {
        {"server", target.port > 0 ? Json(endpoint(target)) : Json(nullptr)},
        {"conforms", s.conforms()},
        {"summary",
         {{"required", tally(s.required_passed, s.required_failed, s.required_skipped, s.required_unseen)},
          {"informational", tally(s.info_passed, s.info_failed, s.info_skipped, s.info_unseen)}}},
        {"selection", scope.only},
        {"available", allChecks().size()},
        {"ran", run},
        {"not_run", allChecks().size() - static_cast<std::size_t>(run)}};
    if (!scope.problem.empty()) report["problem"] = scope.problem;
    report["verdict"] = verdictLine(outcomes, scope);
    Json checks = Json::array();
    for (const Outcome& o : outcomes) {
        checks.push_back({{"name", o.check->name},
                          {"required", o.check->required},
                          {"status", statusJson(o.status)},
                          {"expected", o.check->expected},
                          {"got", o.got},
                          {"milliseconds", std::chrono::duration_cast<std::chrono::milliseconds>(o.took).count()}});
    }
    report["checks"] = std::move(checks);
    return JsonText::dump(report) + "\n";
}

std::string checkList() {
    std::ostringstream out;
    for (const Check& check : allChecks()) {
        out << padded(check.name, kNameColumn) << (check.required ? "required" : "informational");
        if (!check.needs.empty()) {
            out << ", needs";
            for (const std::string& need : check.needs) out << " " << need;
        }
        out << "\n    " << check.meaning << "\n";
    }
    return out.str();
}

}  // namespace Conform
}  // namespace TEV
