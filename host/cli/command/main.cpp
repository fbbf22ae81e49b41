// tev-host: list an effect plug-in's parameters or render images through it.
//
// The plug-in prints to standard output; while it is loaded, its text is
// captured as whole lines and shown on stderr (ConsoleCapture), and the
// front end writes its own report to the original standard output.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "command/CliOptions.h"
#include "command/Commands.h"
#include "run/ConsoleCapture.h"
#include "run/FdStream.h"

namespace {

int terminalColumns(int fd) {
    winsize size{};
    return ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

// Prints --help or --version text; a failed write is named (exit 2).
int printText(const std::string& text) {
    std::cout << text << std::flush;
    if (std::cout && std::fflush(stdout) == 0) return TEV::Host::Cli::kExitOk;
    const int error_number = errno;
    std::cerr << "tev-host: cannot write to " << TEV::Host::Cli::describeDescriptor(STDOUT_FILENO, "standard output")
              << ": " << std::strerror(error_number) << "\n";
    return TEV::Host::Cli::kExitFailed;
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
    case Action::Help: return printText(usage());
    case Action::Version: return printText(versionText());
    case Action::Params:
    case Action::Render: break;
    case Action::Merge:
        try {
            FdStream out(STDOUT_FILENO, describeDescriptor(STDOUT_FILENO, "standard output"));
            return mergeReports(options, out, std::cerr);
        } catch (const std::exception& e) {
            std::cerr << "tev-host: " << e.what() << "\n";
            return kExitFailed;
        }
    }
    try {
        // One write per line: stderr is unbuffered, and the front end's own
        // lines may be written at the same time.
        ConsoleCapture console([](const std::string& line) { std::cerr << ("plug-in: " + line + "\n"); });
        FdStream out(console.originalStdout(), describeDescriptor(console.originalStdout(), "standard output"));
        const int status = options.action == Action::Params ? listParams(options, out, std::cerr)
                                                            : renderImage(options, out, std::cerr, &console);
        out.flush();
        return status;
    } catch (const std::exception& e) {
        std::cerr << "tev-host: " << e.what() << "\n";
        return kExitFailed;
    }
}
