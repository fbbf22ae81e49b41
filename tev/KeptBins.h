// Internal: decoding a body whose large bins were set apart while it arrived
// (ReceivedMessage).
#pragma once

#include <cstddef>
#include <vector>

#include "TEV.h"

namespace TEV {
namespace detail {

// A bin set apart: its bytes, and the offset in the body of the payload of
// the small stand-in bin that took its place.
struct KeptBin {
    std::size_t at = 0;
    std::vector<char> bytes;
};

// decode_message of `data`, except that a bin whose payload starts at
// data + kept[k].at decodes to Bytes holding kept[k].bytes (moved, not
// copied). `kept` is ordered by `at`; `limit_size` is the size of the body as
// it was sent, for unpack_limits_for.
MessageDict decodeWithKeptBins(const char* data, std::size_t size, std::vector<KeptBin>& kept,
                               std::size_t limit_size);

}  // namespace detail
}  // namespace TEV
