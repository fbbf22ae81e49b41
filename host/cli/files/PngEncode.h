// PNG writing without libpng: rows filtered with libpng's own heuristic (per
// row, the filter whose output has the smallest sum of absolute values) and
// the whole image compressed at once by libdeflate, which at level 1 takes
// about half of zlib's time for files a few per cent smaller.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace TEV::Host::Cli {

struct PngImage {
    int width = 0;
    int height = 0;
    int bits = 8;  // 8 or 16; RGBA, not interlaced
    // Row y's samples, RGBA in file order (16-bit samples big-endian), or
    // with `argb` 8-bit samples in A, R, G, B order (a world's rows).
    std::vector<const unsigned char*> rows;
    bool argb = false;
    int level = 1;  // 0 (stored) to 9
    std::vector<std::pair<std::string, std::string>> text;  // tEXt chunks: key (1 to 79 bytes), text
};

// Writes the whole file; false with errno set when a write failed (ENOMEM
// when memory ran out).
bool encodePng(std::FILE* file, const PngImage& image);

}  // namespace TEV::Host::Cli
