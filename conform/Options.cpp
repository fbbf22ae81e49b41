// Parsing the checker's command line.
#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "Check.h"
#include "Frames.h"

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

// Whole-text conversions: false for anything but the plain form.
bool readInteger(const std::string& text, long long& out) {
    if (text.find_first_not_of("+-0123456789") != std::string::npos || text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end == text.c_str() + text.size();
}

bool readNumber(const std::string& text, double& out) {
    if (text.find_first_not_of("+-.0123456789eE") != std::string::npos || text.empty()) return false;
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(out);
}

bool readBool(const std::string& text, bool& out) {
    if (text != "true" && text != "false") return false;
    out = text == "true";
    return true;
}

// NAME=VALUE of --param, VALUE of the kind described at Options::params.
std::pair<std::string, Dict> parseParam(const std::string& text) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError("--param needs NAME=VALUE, not '" + text + "'");
    const std::string name = text.substr(0, eq), value = text.substr(eq + 1);
    const auto wrong = [&](const char* kind) {
        return UsageError("--param " + name + " needs " + kind + ", not '" + value + "'");
    };
    long long integer = 0;
    double number = 0;
    bool flag = false;
    switch (defaultRenderParams().get(name).type) {
        case Dict::Float:
            if (!readNumber(value, number)) throw wrong("a finite number");
            return {name, number};
        case Dict::Bool:
            if (!readBool(value, flag)) throw wrong("true or false");
            return {name, flag};
        case Dict::Int:
            if (!readInteger(value, integer)) throw wrong("an integer");
            return {name, integer};
        default:
            if (readBool(value, flag)) return {name, flag};
            if (readInteger(value, integer)) return {name, integer};
            if (readNumber(value, number)) return {name, number};
            return {name, value};
    }
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
        } else if (is("--param")) {
            auto [name, typed] = parseParam(value("--param"));
            options.params[name] = std::move(typed);
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
    return "Usage: tev-conform [--port N] [--only NAME]... [--param NAME=VALUE]... [--json] [--verbose]\n"
           "       tev-conform --list | --help\n"
           "\n"
           "Checks that the processing server listening on 127.0.0.1:N speaks the plug-in's\n"
           "protocol, using the plug-in's own client library: one line per check (PASS, FAIL,\n"
           "SKIP or UNSEEN, its name, its time, what was expected and what came), then a summary.\n"
           "\n"
           "  --port N     the server's port (default " + std::to_string(default_port) + ", this build's port)\n"
           "  --only NAME  run only this check, or every check of a group (\"job\"); may be repeated;\n"
           "               the checks then run even when a check they need fails\n"
           "  --param NAME=VALUE\n"
           "               send this render parameter in place of the plug-in's own (brightness,\n"
           "               contrast, saturation, enable_effect, type) or beside them; may be repeated\n"
           "  --json       print one JSON document instead of the table\n"
           "  --verbose    show the client library's diagnostic lines on standard error\n"
           "  --list       list the checks and what each one means\n"
           "\n"
           "A full run skips a check whose prerequisites failed, and a skipped required check\n"
           "fails the run. The checks that judge a running job (job.pending, job.progress,\n"
           "job.abort) try larger frames and parameters that change the frame; when every job\n"
           "ended before it could be watched they end as UNSEEN, which judges nothing and fails\n"
           "nothing: the server conforms on what it showed, and the summary names them.\n"
           "Informational checks (timing) fail only past the plug-in's 30 s render time-out,\n"
           "and then fail the run. The summary (or the JSON document) is printed in every case\n"
           "and says which checks ran.\n"
           "\n"
           "Exit status: 0 every required check passed or was unseen; 1 a required check failed\n"
           "or was skipped, an informational check failed, or nothing was judged; 2 bad command\n"
           "line; 3 nothing answers on the port.\n";
}

}  // namespace Conform
}  // namespace TEV
