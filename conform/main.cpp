// tev-conform: checks a processing server against the plug-in's protocol.
#include <iostream>
#include <set>

#include "Options.h"
#include "Replies.h"
#include "Report.h"
#include "TEVLocations.h"
#include "Text.h"

namespace {

using namespace TEV::Conform;

// The chosen checks in the order of a full run, each once.
std::vector<const Check*> chosenChecks(const std::vector<std::string>& only) {
    if (only.empty()) {
        std::vector<const Check*> all;
        for (const Check& check : allChecks()) all.push_back(&check);
        return all;
    }
    std::set<const Check*> wanted;
    for (const std::string& name : only)
        for (const Check* check : selectChecks(name)) wanted.insert(check);
    std::vector<const Check*> chosen;
    for (const Check& check : allChecks())
        if (wanted.count(&check)) chosen.push_back(&check);
    return chosen;
}

// The report's closing part: the summary, or the JSON document.
void finish(std::ostream& report, const Options& options, const std::vector<Outcome>& outcomes, const Target& target,
            const Scope& scope) {
    report << (options.json ? jsonReport(outcomes, target, scope) : summaryText(outcomes, target, scope))
           << std::flush;
}

int run(const Options& options) {
    Target target;
    target.port = options.port;
    target.params = options.params;
    Scope scope;
    scope.only = options.only;
    // The run takes std::cout over for the client library's lines; the
    // report keeps writing to standard output through its own stream.
    std::ostream report(std::cout.rdbuf());
    const std::string problem = unreachable(options.port);
    if (!problem.empty()) {
        std::cerr << "tev-conform: " << problem << "; start the server first, or give its port with --port\n";
        scope.problem = problem;
        finish(report, options, {}, target, scope);
        return 3;
    }
    const std::vector<const Check*> chosen = chosenChecks(options.only);
    RunSettings settings;
    settings.follow_needs = options.only.empty();
    settings.client_lines = options.verbose ? &std::cerr : nullptr;
    if (!options.json) {
        report << "Checking the server at 127.0.0.1:" << options.port;
        for (const auto& [name, value] : options.params)
            report << " --param " << name << "=" << printable(brief(value));
        report << "\n";
        settings.on_outcome = [&](const Outcome& o) { report << reportLine(o) << std::endl; };
    }
    const std::vector<Outcome> outcomes = chosen.empty() ? std::vector<Outcome>{} : runChecks(target, chosen, settings);
    finish(report, options, outcomes, target, scope);
    return summarize(outcomes).conforms() ? 0 : 1;
}

// For a run that ends before any check: with --json among the arguments,
// the JSON document that says why, so that a caller always gets one.
void reportEarlyEnd(const std::vector<std::string>& args, const std::string& why) {
    bool json = false;
    for (const std::string& arg : args) json = json || arg == "--json";
    if (!json) return;
    Scope scope;
    scope.problem = why;
    std::cout << jsonReport({}, Target{}, scope) << std::flush;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const Options options = parseOptions(args, TEV_SERVER_PORT);
        if (options.help) {
            std::cout << usageText(TEV_SERVER_PORT);
            return 0;
        }
        if (options.list) {
            std::cout << checkList();
            return 0;
        }
        return run(options);
    } catch (const UsageError& e) {
        std::cerr << "tev-conform: " << e.what() << "\n";
        reportEarlyEnd(args, e.what());
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tev-conform: " << e.what() << "\n";
        reportEarlyEnd(args, e.what());
        return 1;
    }
}
