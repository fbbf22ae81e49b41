// The checker's command line.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace TEV {
namespace Conform {

struct Options {
    int port = 0;
    bool json = false;     // one JSON document instead of the table
    bool list = false;     // list the checks and exit
    bool help = false;
    bool verbose = false;  // the server link's diagnostic lines on standard error
    std::vector<std::string> only;  // check names or group names; empty: every check
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the arguments after the program name. `default_port` applies
// without --port. Throws UsageError saying which argument is wrong.
Options parseOptions(const std::vector<std::string>& args, int default_port);

// The --help text.
std::string usageText(int default_port);

}  // namespace Conform
}  // namespace TEV
