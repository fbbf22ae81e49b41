// tev-host: list an effect plug-in's parameters or render an image through it.
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
        std::cerr << "tev-host: " << e.what() << "\n" << usage();
        return kExitUsage;
    }
    switch (options.action) {
    case Action::Help: std::cout << usage(); return kExitOk;
    case Action::Params: return listParams(options, std::cout, std::cerr);
    case Action::Render: return renderImage(options, std::cout, std::cerr);
    }
    return kExitUsage;
}
