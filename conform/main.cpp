// tev-conform: checks a processing server against the plug-in's protocol.
#include <iostream>
#include <set>

#include "Options.h"
#include "Report.h"
#include "TEVLocations.h"

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

int run(const Options& options) {
    Target target;
    target.port = options.port;
    const std::string problem = unreachable(options.port);
    if (!problem.empty()) {
        std::cerr << "tev-conform: " << problem << "; start the server first, or give its port with --port\n";
        return 3;
    }
    // The run takes std::cout over for the client library's lines; the
    // report keeps writing to standard output through its own stream.
    std::ostream report(std::cout.rdbuf());
    RunSettings settings;
    settings.follow_needs = options.only.empty();
    settings.client_lines = options.verbose ? &std::cerr : nullptr;
    if (!options.json) {
        report << "Checking the server at 127.0.0.1:" << options.port << "\n";
        settings.on_outcome = [&](const Outcome& o) { report << reportLine(o) << std::endl; };
    }
    const std::vector<Outcome> outcomes = runChecks(target, chosenChecks(options.only), settings);
    report << (options.json ? jsonReport(outcomes, target) : summaryText(outcomes, target)) << std::flush;
    return summarize(outcomes).conforms() ? 0 : 1;
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
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tev-conform: " << e.what() << "\n";
        return 1;
    }
}
