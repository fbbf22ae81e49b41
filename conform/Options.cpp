// Parsing the checker's command line.
#include "Options.h"

#include "Check.h"

namespace TEV {
namespace Conform {

namespace {

int parsePort(const std::string& text) {
    std::size_t used = 0;
    long value = -1;
    try {
        value = std::stol(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value < 1 || value > 65535)
        throw UsageError("--port needs a TCP port number from 1 to 65535, not '" + text + "'");
    return static_cast<int>(value);
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args, int default_port) {
    Options options;
    options.port = default_port;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // "--port N" or "--port=N", likewise --only.
        const auto value = [&](const std::string& flag) -> std::string {
            if (arg.size() > flag.size() && arg.compare(0, flag.size() + 1, flag + "=") == 0)
                return arg.substr(flag.size() + 1);
            if (i + 1 >= args.size()) throw UsageError(flag + " needs a value");
            return args[++i];
        };
        const auto is = [&](const std::string& flag) {
            return arg == flag || arg.compare(0, flag.size() + 1, flag + "=") == 0;
        };
        if (is("--port")) {
            options.port = parsePort(value("--port"));
        } else if (is("--only")) {
            const std::string name = value("--only");
            if (selectChecks(name).empty()) throw UsageError("no check or group named '" + name + "' (see --list)");
            options.only.push_back(name);
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else {
            throw UsageError("unknown argument '" + arg + "' (see --help)");
        }
    }
    return options;
}

std::string usageText(int default_port) {
    return "Usage: tev-conform [--port N] [--only NAME]... [--json] [--verbose]\n"
           "       tev-conform --list | --help\n"
           "\n"
           "Checks that the processing server listening on 127.0.0.1:N speaks the plug-in's\n"
           "protocol, using the plug-in's own client library: one line per check (PASS, FAIL\n"
           "or SKIP, its name, its time, what was expected and what came), then a summary.\n"
           "\n"
           "  --port N     the server's port (default " + std::to_string(default_port) + ", this build's port)\n"
           "  --only NAME  run only this check, or every check of a group (\"job\"); may be repeated;\n"
           "               the checks then run even when a check they need fails\n"
           "  --json       print one JSON document instead of the table\n"
           "  --verbose    show the client library's diagnostic lines on standard error\n"
           "  --list       list the checks and what each one means\n"
           "\n"
           "A full run skips a check whose prerequisites failed. A check that saw too little\n"
           "to judge (a job that ended before it could be watched, even with a larger frame)\n"
           "ends as SKIP with the reason. A skipped required check fails the run. Informational\n"
           "checks (timing) fail only past the plug-in's 30 s render time-out, and then fail the\n"
           "run. The summary (or the JSON document) is printed in every case and says which\n"
           "checks ran.\n"
           "\n"
           "Exit status: 0 every required check passed; 1 a required check failed or was\n"
           "skipped, an informational check failed, or nothing was checked; 2 bad command line;\n"
           "3 nothing answers on the port.\n";
}

}  // namespace Conform
}  // namespace TEV
