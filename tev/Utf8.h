// Internal: UTF-8 decoding for text drawing.
#pragma once

#include <string>
#include <vector>

namespace TEV {
namespace detail {

// The code points of `text` read as UTF-8. Bytes that do not belong to a
// well-formed sequence (stray continuation bytes, truncated or overlong
// sequences, surrogates, values above U+10FFFF) are dropped one by one, so
// the rest of the text still decodes.
std::vector<char32_t> decodeUtf8(const std::string& text);

}  // namespace detail
}  // namespace TEV
