// What became of a frame the run was asked for, and how many frames ended
// each way: the one model behind the frame lines, the summary line, the
// report's records, the merge of the parts' reports and the exit status.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace TEV::Host::Cli {

enum class FrameState { Processed, Unchanged, Overlay, Failed, Aborted, Skipped, NotStarted };

constexpr std::array<FrameState, 7> kFrameStates = {FrameState::Processed, FrameState::Unchanged,
                                                    FrameState::Overlay,   FrameState::Failed,
                                                    FrameState::Aborted,   FrameState::Skipped,
                                                    FrameState::NotStarted};

// "processed", "unchanged", "overlay", "failed", "aborted", "skipped", "not started":
// the verdict's name in frame lines and reports.
const char* stateName(FrameState state);
// The state of a verdict's name; nothing for a name that is none of them.
std::optional<FrameState> stateNamed(const std::string& name);

// Processed, unchanged or overlay: this run wrote the frame's output.
bool written(FrameState state);
// Written, or skipped because its output was there: the frame's output exists.
bool hasOutput(FrameState state);

struct StateCounts {
    std::array<std::size_t, kFrameStates.size()> by_state{};
    std::size_t missing = 0;  // merge: expected, but named by no report

    void add(FrameState state) { ++by_state[static_cast<std::size_t>(state)]; }
    std::size_t operator[](FrameState state) const { return by_state[static_cast<std::size_t>(state)]; }
    std::size_t frames() const;   // every state, and the missing
    std::size_t written() const;  // processed + unchanged + overlay
    // 2 when a frame failed, was aborted, not started or is missing; else 3
    // when one shows the failure overlay; else 0.
    int exitStatus() const;
};

// "4 processed, 0 unchanged, 0 overlay, 1 failed, 0 aborted", then the
// skipped, the not started and the missing: each when not 0, or every one
// with `every`.
std::string countsText(const StateCounts& counts, bool every);

}  // namespace TEV::Host::Cli
