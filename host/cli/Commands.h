// The tev-host commands. Each returns the process exit status and writes
// results to `out`, failures to `err`.
#pragma once

#include <iosfwd>
#include <string>

#include "CliOptions.h"
#include "tevhost/HeadlessHost.h"

namespace TEV::Host::Cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailed = 2;
constexpr int kExitOverlay = 3;       // every frame written, some show the failure overlay
constexpr int kExitInterrupted = 130; // Ctrl-C

// Host options for the command line (--premiere, --iterate-threads, --downsample).
HostOptions hostOptionsFor(const CliOptions& options);

// Loads the plug-in, sets it up and prints its parameters as registered.
int listParams(const CliOptions& options, std::ostream& out, std::ostream& err);

// Renders options.input (an image or a sequence) into options.output through
// the plug-in, a line per frame and a total on `out`.
int renderImage(const CliOptions& options, std::ostream& out, std::ostream& err);

// Sets one parameter from text: a number, on/off/true/false for a checkbox,
// or a popup choice's text or number. HostError for an unknown name, text it
// cannot take, or a value outside the parameter's valid range.
void setParamFromText(HeadlessHost& host, InstanceId inst, const std::string& name, const std::string& text);

// The host whose frames Ctrl-C aborts (null: none, Ctrl-C ends the process).
// The first Ctrl-C asks the host to abort; a second one ends the process.
void setAbortTarget(HeadlessHost* host);
// True once Ctrl-C was pressed while a host was the abort target.
bool interrupted();

}  // namespace TEV::Host::Cli
