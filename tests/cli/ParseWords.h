// The front end's command line from a list of words, as tev-host's main()
// would receive it after the program name.
#pragma once

#include <string>
#include <vector>

#include "command/CliOptions.h"

namespace TEV::Host::Cli {

inline CliOptions parse(std::vector<std::string> words) {
    std::vector<char*> argv{const_cast<char*>("tev-host")};
    for (std::string& w : words) argv.push_back(w.data());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

}  // namespace TEV::Host::Cli
