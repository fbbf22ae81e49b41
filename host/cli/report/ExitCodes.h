// The exit statuses of tev-host, the same for a render and for the merge of
// its parts' reports.
#pragma once

namespace TEV::Host::Cli {

constexpr int kExitOk = 0;       // every frame written or skipped
constexpr int kExitUsage = 1;    // the command line was refused
constexpr int kExitFailed = 2;   // a frame failed, was aborted, not started or missing; or the run failed
constexpr int kExitOverlay = 3;  // every frame written, some show the failure overlay
// A run stopped by signal N exits with 128 + N (exitStatusForSignal).

}  // namespace TEV::Host::Cli
