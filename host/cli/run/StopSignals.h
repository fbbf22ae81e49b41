// The signals that stop a render: SIGINT (Ctrl-C), SIGTERM and SIGHUP (how
// job managers stop a job). The first one asks the host to abort the frames
// in flight and lets the run end with its summary; a second one removes the
// temporary files of writes in progress, says so on stderr and ends the
// process at once, by that signal.
// SIGPIPE is ignored while they are installed: a closed standard output shows
// as a failed write, which the run handles as a stop of its own.
#pragma once

#include "tevhost/HeadlessHost.h"

namespace TEV::Host::Cli {

class StopSignals {
public:
    // Installs the handlers; the destructor restores what was there before.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The host whose frames a signal aborts (null: none yet).
    static void setAbortTarget(HeadlessHost* host);
    // The first stopping signal received since the handlers were installed, or 0.
    static int received();
};

// The exit status of a run stopped by `signal_number`: 128 + the number
// (130 SIGINT, 143 SIGTERM, 129 SIGHUP, 141 SIGPIPE).
int exitStatusForSignal(int signal_number);

}  // namespace TEV::Host::Cli
