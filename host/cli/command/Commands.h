// The tev-host commands. Each returns the process exit status and writes
// results to `out`, failures to `err`.
#pragma once

#include <iosfwd>
#include <string>

#include "command/CliOptions.h"
#include "report/ExitCodes.h"
#include "run/ConsoleCapture.h"
#include "tevhost/HeadlessHost.h"

namespace TEV::Host::Cli {

// Host options for the command line (--premiere, --iterate-threads, --downsample).
HostOptions hostOptionsFor(const CliOptions& options);

// Loads the plug-in, sets it up and prints its parameters as registered. A
// failed write on `out` is named on `err`: exit 2, or 141 for a closed pipe.
int listParams(const CliOptions& options, std::ostream& out, std::ostream& err);

// Renders options.input (an image or a sequence) into options.output through
// the plug-in, a line per frame and a total on `out`, warnings and errors on
// `err`. SIGINT, SIGTERM and SIGHUP stop the run while it lasts. A failed
// write of the report or of the frame lines on `out` stops the run: a closed
// pipe (EPIPE) as a closed output (141), anything else as a failure named
// with its place (2); `out` as an FdStream gives the reason and the place.
// A failing `err` does not stop it. With a
// console capture, the plug-in's lines are shown on `err` above the progress
// bar, as "plug-in: <line>".
int renderImage(const CliOptions& options, std::ostream& out, std::ostream& err, ConsoleCapture* console = nullptr);

// Merges the --report files of a render split into parts (--chunk) into one
// summary on `out` and one exit status, with the render's rules (0, 2, 3);
// warnings about unreadable lines on `err`. HostError for a report that
// cannot be read or an input that cannot be listed.
int mergeReports(const CliOptions& options, std::ostream& out, std::ostream& err);

// Sets one parameter from text: a number, on/off/true/false for a checkbox,
// or a popup choice's text or number. HostError for an unknown name, text it
// cannot take, or a value outside the parameter's valid range.
void setParamFromText(HeadlessHost& host, InstanceId inst, const std::string& name, const std::string& text);

}  // namespace TEV::Host::Cli
