// --chunk K/N: one of N contiguous, near-equal parts of a frame list, so that
// a farm manager runs the same command once per part.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace TEV::Host::Cli {

struct Chunk {
    int index = 0;  // 1..count; 0: the whole list
    int count = 0;
};

// Parses "K/N" with 1 <= K <= N. std::invalid_argument with the reason otherwise.
Chunk parseChunk(const std::string& text);

// The half-open index range [first, last) of chunk `chunk` in a list of
// `frames` entries: the first frames % N parts hold one frame more than the
// others, so part sizes differ by at most one, and the parts, in order,
// cover the list once. Parts past the list's end are empty ({frames, frames}).
// The whole list for Chunk{0, 0}.
std::pair<std::size_t, std::size_t> chunkBounds(std::size_t frames, const Chunk& chunk);

}  // namespace TEV::Host::Cli
