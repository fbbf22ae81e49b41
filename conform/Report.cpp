// Formatting of outcomes for a terminal and for JSON.
#include "Report.h"

#include <cstdio>
#include <sstream>

#include "Groups.h"
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
    }
    return "?";
}

const char* statusJson(Status s) {
    switch (s) {
        case Status::Pass: return "pass";
        case Status::Fail: return "fail";
        case Status::Skip: return "skip";
    }
    return "?";
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string endpoint(const Target& target) { return "http://127.0.0.1:" + std::to_string(target.port) + "/api"; }

std::string counts(int passed, int failed, int skipped) {
    return std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " + std::to_string(skipped) +
           " skipped";
}

}  // namespace

std::string reportLine(const Outcome& o) {
    std::string name = o.check->name + (o.check->required ? "" : " (info)");
    char time[16];
    std::snprintf(time, sizeof time, "%8s", o.status == Status::Skip ? "-" : describeDuration(o.took).c_str());
    return padded(statusWord(o.status), 6) + padded(name, kNameColumn) + time + "  expected: " + o.check->expected +
           "  got: " + printable(o.got);
}

std::string summaryText(const std::vector<Outcome>& outcomes, const Target& target) {
    const Summary s = summarize(outcomes);
    std::ostringstream out;
    out << outcomes.size() << " check(s) against " << endpoint(target) << ": required "
        << counts(s.required_passed, s.required_failed, s.required_skipped) << "; informational "
        << counts(s.info_passed, s.info_failed, s.info_skipped) << "\n";
    if (s.conforms()) {
        out << "The server passes every required check.\n";
    } else {
        out << "The server does not conform. Failed:";
        for (const Outcome& o : outcomes)
            if (o.check->required && o.status == Status::Fail) out << " " << o.check->name;
        out << "\n";
    }
    return out.str();
}

std::string jsonReport(const std::vector<Outcome>& outcomes, const Target& target) {
    const Summary s = summarize(outcomes);
    std::ostringstream out;
    out << "{\"server\": " << jsonString(endpoint(target)) << ", \"conforms\": " << (s.conforms() ? "true" : "false")
        << ", \"summary\": {\"required\": {\"passed\": " << s.required_passed << ", \"failed\": " << s.required_failed
        << ", \"skipped\": " << s.required_skipped << "}, \"informational\": {\"passed\": " << s.info_passed
        << ", \"failed\": " << s.info_failed << ", \"skipped\": " << s.info_skipped << "}}, \"checks\": [";
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const Outcome& o = outcomes[i];
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(o.took).count();
        out << (i ? ",\n  " : "\n  ") << "{\"name\": " << jsonString(o.check->name)
            << ", \"required\": " << (o.check->required ? "true" : "false") << ", \"status\": \""
            << statusJson(o.status) << "\", \"expected\": " << jsonString(o.check->expected)
            << ", \"got\": " << jsonString(o.got) << ", \"milliseconds\": " << ms << "}";
    }
    out << "\n]}\n";
    return out.str();
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
