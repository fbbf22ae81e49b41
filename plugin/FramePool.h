// Frame stores kept between renders, so that a frame's samples don't go into
// freshly mapped memory every frame (a fresh buffer of tens of megabytes
// page-faults in anew each time, which costs more than copying it).
//
// A render takes its frame image from the pool and gives the store back when
// it ends. The pool keeps at most kMaxSpares stores of at least
// kMinPooledBytes; it lives in the global record, so global setdown frees it.
// Safe to use from several render threads at once.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "TEV.h"

class FramePool {
public:
    static constexpr std::size_t kMaxSpares = 2;
    static constexpr std::size_t kMinPooledBytes = std::size_t(1) << 20;

    // An image equal to TEV::Image(width, ..., downsample) (zero-filled
    // samples), its store taken from a spare when one is large enough.
    TEV::Image image(unsigned short width, unsigned short height, unsigned short channels,
                     unsigned short bit_depth, float pix_aspect_ratio, unsigned short rowbytes,
                     float downsample);
    // Keeps the image's store for a later image (or frees it when the pool is
    // full or the store small); the image is left with an empty store.
    void giveBack(TEV::Image& image);
    // Stores currently kept.
    std::size_t spares() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::vector<unsigned char>> bytes_;
    std::vector<std::vector<float>> floats_;
};
