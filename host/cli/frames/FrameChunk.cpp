#include "frames/FrameChunk.h"

#include <stdexcept>

namespace TEV::Host::Cli {

namespace {

int positive(const std::string& part, const std::string& text) {
    std::size_t used = 0;
    int n = 0;
    try {
        n = std::stoi(part, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (part.empty() || used != part.size() || part[0] == '+' || part[0] == '-' || part[0] == ' ' || n < 1) {
        throw std::invalid_argument("--chunk needs K/N with whole numbers 1 <= K <= N, not '" + text + "'");
    }
    return n;
}

}  // namespace

Chunk parseChunk(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) {
        throw std::invalid_argument("--chunk needs K/N (the K-th of N parts, K from 1), not '" + text + "'");
    }
    const std::string from_one = "parts are counted from 1; with a task id that starts at 0, pass $((ID+1))/N";
    if (text.substr(0, slash) == "0") throw std::invalid_argument("--chunk " + text + ": " + from_one);
    Chunk c{positive(text.substr(0, slash), text), positive(text.substr(slash + 1), text)};
    if (c.index > c.count) throw std::invalid_argument("--chunk " + text + ": K must be at most N (" + from_one + ")");
    return c;
}

std::pair<std::size_t, std::size_t> chunkBounds(std::size_t frames, const Chunk& chunk) {
    if (chunk.count <= 0) return {0, frames};
    const std::size_t n = static_cast<std::size_t>(chunk.count);
    const std::size_t k = static_cast<std::size_t>(chunk.index) - 1;
    const std::size_t size = frames / n, extra = frames % n;
    const std::size_t first = k * size + (k < extra ? k : extra);
    return {first, first + size + (k < extra ? 1 : 0)};
}

}  // namespace TEV::Host::Cli
