// The checker's command line.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "TEV.h"

namespace TEV {
namespace Conform {

struct Options {
    int port = 0;
    bool json = false;     // one JSON document instead of the table
    bool list = false;     // list the checks and exit
    bool help = false;
    bool verbose = false;  // the server link's diagnostic lines on standard error
    std::vector<std::string> only;  // check names or group names; empty: every check
    // --param NAME=VALUE: render parameters over the plug-in's defaults. The
    // plug-in's own parameters keep their kind (brightness, contrast and
    // saturation a number, enable_effect true or false, type an integer);
    // another is true or false, an integer, a number, or else the text.
    std::map<std::string, Dict> params;
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
