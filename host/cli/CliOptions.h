// Command line of tev-host, parsed into one record.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace TEV::Host::Cli {

enum class Action { Help, Params, Render };

struct CliOptions {
    Action action = Action::Help;
    std::string plugin;
    std::string input, output;                             // render: PNG files
    int depth = 8;                                         // render: bits per channel inside the host
    int frame = 0;
    unsigned threads = 0;                                  // iterate threads, 0: automatic
    bool premiere = false;                                 // imitate the other host
    bool books = false;                                    // print the books report
    std::vector<std::pair<std::string, std::string>> set;  // NAME=VALUE, in order
};

// The usage text printed by --help.
std::string usage();

// Parses argv. Throws std::invalid_argument with a one-line reason for a bad
// command line.
CliOptions parseCommandLine(int argc, char** argv);

}  // namespace TEV::Host::Cli
