// Test helpers: filled images, sample probes, ink finding and PNG pictures.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "TEV.h"

namespace drawing_test {

// An image whose every colour sample holds `colour` and, with 4 channels,
// every alpha sample `alpha`; both as stored (e.g. 200 for 8 bits, 0.5 for float).
TEV::Image filledImage(unsigned short width, unsigned short height, unsigned short channels,
                       unsigned short bit_depth, float colour, float alpha = 0.0f);

// A left-to-right colour ramp, so that a darkened band is visible in pictures.
TEV::Image rampImage(unsigned short width, unsigned short height, unsigned short bit_depth);

// Sample s of pixel (x, y) as stored: 0..255, 0..65535 or the float itself.
float sampleAt(const TEV::Image& image, int x, int y, int s);

// The colour samples (first three) of pixel (x, y).
std::array<float, 3> rgbAt(const TEV::Image& image, int x, int y);

// Runs of rows [first, last] holding ink: a colour sample at a column >=
// x_from that differs from `background`; only rows [y_from, y_to) are looked at.
struct InkRun {
    int first, last;
};
std::vector<InkRun> inkRuns(const TEV::Image& image, int x_from, float background, int y_from = 0,
                            int y_to = 1 << 30);

// Leftmost and rightmost ink columns at or right of x_from within rows
// [y_from, y_to); -1 when none.
std::pair<int, int> inkColumns(const TEV::Image& image, int x_from, float background,
                               int y_from = 0, int y_to = 1 << 30);

// Writes `image` as <picture dir>/<name>.png (8-bit RGB(A); 16-bit and float
// samples mapped from their full scale) and returns the path.
std::string writePicture(const TEV::Image& image, const std::string& name);

}  // namespace drawing_test
