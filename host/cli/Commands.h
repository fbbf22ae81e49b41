// The tev-host commands. Each returns the process exit status and writes
// results to `out`, failures to `err`.
#pragma once

#include <iosfwd>

#include "CliOptions.h"
#include "tevhost/HeadlessHost.h"

namespace TEV::Host::Cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailed = 2;

// Host options for the command line (--premiere, --threads).
HostOptions hostOptionsFor(const CliOptions& options);

// Loads the plug-in, sets it up and prints its parameters as registered.
int listParams(const CliOptions& options, std::ostream& out, std::ostream& err);

// Renders options.input into options.output through the plug-in.
int renderImage(const CliOptions& options, std::ostream& out, std::ostream& err);

// Sets one parameter from text: a number, on/off/true/false for a checkbox,
// or a popup choice's text. HostError for anything it cannot take.
void setParamFromText(HeadlessHost& host, InstanceId inst, const std::string& name, const std::string& text);

// The host whose frame Ctrl-C aborts (null when none is rendering).
void setAbortTarget(HeadlessHost* host);

}  // namespace TEV::Host::Cli
