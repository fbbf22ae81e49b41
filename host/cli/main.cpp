// tev-host: list an effect plug-in's parameters or render images through it.
#include <unistd.h>

#include <iostream>
#include <stdexcept>

#include "CliOptions.h"
#include "Commands.h"

int main(int argc, char** argv) {
    using namespace TEV::Host::Cli;
    CliOptions options;
    try {
        options = parseCommandLine(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::cerr << "tev-host: " << e.what() << "\n(try tev-host --help)\n";
        return kExitUsage;
    }
    options.progress_bar = !options.no_progress && isatty(STDERR_FILENO);
    switch (options.action) {
    case Action::Help: std::cout << usage(); return kExitOk;
    case Action::Params: return listParams(options, std::cout, std::cerr);
    case Action::Render: return renderImage(options, std::cout, std::cerr);
    }
    return kExitUsage;
}
