// tev-host: list an effect plug-in's parameters or render images through it.
//
// The plug-in prints to standard output; while it is loaded, its text is
// captured as whole lines and shown on stderr (ConsoleCapture), and the
// front end writes its own report to the original standard output.
#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>
#include <stdexcept>

#include "CliOptions.h"
#include "Commands.h"
#include "ConsoleCapture.h"
#include "FdStream.h"

namespace {

int terminalColumns(int fd) {
    winsize size{};
    return ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace

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
    options.columns = terminalColumns(STDERR_FILENO);
    switch (options.action) {
    case Action::Help: std::cout << usage(); return kExitOk;
    case Action::Version: std::cout << versionText(); return kExitOk;
    case Action::Params:
    case Action::Render: break;
    case Action::Merge:
        try {
            return mergeReports(options, std::cout, std::cerr);
        } catch (const std::exception& e) {
            std::cerr << "tev-host: " << e.what() << "\n";
            return kExitFailed;
        }
    }
    try {
        // One write per line: stderr is unbuffered, and the front end's own
        // lines may be written at the same time.
        ConsoleCapture console([](const std::string& line) { std::cerr << ("plug-in: " + line + "\n"); });
        FdStream out(console.originalStdout());
        const int status = options.action == Action::Params ? listParams(options, out, std::cerr)
                                                            : renderImage(options, out, std::cerr, &console);
        out.flush();
        return status;
    } catch (const std::exception& e) {
        std::cerr << "tev-host: " << e.what() << "\n";
        return kExitFailed;
    }
}
