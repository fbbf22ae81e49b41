#include "report/FrameState.h"

#include "report/ExitCodes.h"

namespace TEV::Host::Cli {

const char* stateName(FrameState state) {
    switch (state) {
    case FrameState::Processed: return "processed";
    case FrameState::Unchanged: return "unchanged";
    case FrameState::Overlay: return "overlay";
    case FrameState::Failed: return "failed";
    case FrameState::Aborted: return "aborted";
    case FrameState::Skipped: return "skipped";
    case FrameState::NotStarted: return "not started";
    }
    return "failed";
}

std::optional<FrameState> stateNamed(const std::string& name) {
    for (FrameState s : kFrameStates) {
        if (name == stateName(s)) return s;
    }
    return std::nullopt;
}

bool written(FrameState s) {
    return s == FrameState::Processed || s == FrameState::Unchanged || s == FrameState::Overlay;
}

bool hasOutput(FrameState s) { return written(s) || s == FrameState::Skipped; }

std::size_t StateCounts::frames() const {
    std::size_t n = missing;
    for (std::size_t c : by_state) n += c;
    return n;
}

std::size_t StateCounts::written() const {
    return (*this)[FrameState::Processed] + (*this)[FrameState::Unchanged] + (*this)[FrameState::Overlay];
}

int StateCounts::exitStatus() const {
    if (missing || (*this)[FrameState::Failed] || (*this)[FrameState::Aborted] || (*this)[FrameState::NotStarted]) {
        return kExitFailed;
    }
    return (*this)[FrameState::Overlay] ? kExitOverlay : kExitOk;
}

std::string countsText(const StateCounts& counts, bool every) {
    std::string text;
    for (FrameState s : kFrameStates) {
        const bool always = s != FrameState::Skipped && s != FrameState::NotStarted;
        if (!every && !always && counts[s] == 0) continue;
        text += (text.empty() ? "" : ", ") + std::to_string(counts[s]) + " " + stateName(s);
    }
    if (every || counts.missing) text += ", " + std::to_string(counts.missing) + " missing";
    return text;
}

}  // namespace TEV::Host::Cli
