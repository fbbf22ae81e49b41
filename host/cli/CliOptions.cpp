#include "CliOptions.h"

#include <stdexcept>

namespace TEV::Host::Cli {

std::string usage() {
    return "usage:\n"
           "  tev-host --help\n"
           "  tev-host params PLUGIN [--premiere]\n"
           "  tev-host render PLUGIN --in IN.png --out OUT.png [--depth 8|16|32]\n"
           "           [--set NAME=VALUE]... [--frame N] [--threads N] [--premiere] [--books]\n"
           "\n"
           "Loads an effect plug-in (a shared library exporting EffectMain) into a headless host.\n"
           "\n"
           "  params     list the parameters as the plug-in registers them\n"
           "  render     render one PNG image through the plug-in; the image is converted to\n"
           "             --depth bits per channel in memory (16: 0..32768, 32: float) and back\n"
           "  --set      a parameter value by name: a number, 'on'/'off' for a checkbox, or the\n"
           "             text of a popup choice; may be repeated\n"
           "  --premiere imitate the other host: its application id, no AEGP suites\n"
           "  --books    print what the plug-in did not give back (suites, handles, ...)\n"
           "\n"
           "Exit status: 0 success, 1 bad command line, 2 the plug-in or the host failed.\n"
           "Ctrl-C asks the plug-in to abort the frame.\n";
}

CliOptions parseCommandLine(int argc, char** argv) {
    CliOptions o;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        return o;
    }
    if (args[0] == "params") {
        o.action = Action::Params;
    } else if (args[0] == "render") {
        o.action = Action::Render;
    } else {
        throw std::invalid_argument("unknown command '" + args[0] + "' (try --help)");
    }
    if (args.size() < 2 || args[1].rfind("--", 0) == 0) {
        throw std::invalid_argument("missing the plug-in path after '" + args[0] + "'");
    }
    o.plugin = args[1];
    auto value = [&](std::size_t& i) -> const std::string& {
        if (i + 1 >= args.size()) {
            throw std::invalid_argument("option " + args[i] + " needs a value");
        }
        return args[++i];
    };
    auto number = [&](std::size_t& i) {
        const std::string& name = args[i];
        const std::string& text = value(i);
        try {
            std::size_t used = 0;
            int n = std::stoi(text, &used);
            if (used == text.size() && n >= 0) {
                return n;
            }
        } catch (const std::exception&) {
        }
        throw std::invalid_argument("option " + name + " needs a whole number, not '" + text + "'");
    };
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--premiere") {
            o.premiere = true;
        } else if (a == "--books") {
            o.books = true;
        } else if (o.action == Action::Render && a == "--in") {
            o.input = value(i);
        } else if (o.action == Action::Render && a == "--out") {
            o.output = value(i);
        } else if (o.action == Action::Render && a == "--depth") {
            o.depth = number(i);
            if (o.depth != 8 && o.depth != 16 && o.depth != 32) {
                throw std::invalid_argument("--depth must be 8, 16 or 32");
            }
        } else if (o.action == Action::Render && a == "--frame") {
            o.frame = number(i);
        } else if (o.action == Action::Render && a == "--threads") {
            o.threads = static_cast<unsigned>(number(i));
        } else if (o.action == Action::Render && a == "--set") {
            const std::string& assignment = value(i);
            std::size_t eq = assignment.find('=');
            if (eq == std::string::npos || eq == 0) {
                throw std::invalid_argument("--set needs NAME=VALUE, not '" + assignment + "'");
            }
            o.set.emplace_back(assignment.substr(0, eq), assignment.substr(eq + 1));
        } else {
            throw std::invalid_argument("unknown option '" + a + "' for '" + args[0] + "'");
        }
    }
    if (o.action == Action::Render && (o.input.empty() || o.output.empty())) {
        throw std::invalid_argument("render needs --in and --out");
    }
    return o;
}

}  // namespace TEV::Host::Cli
