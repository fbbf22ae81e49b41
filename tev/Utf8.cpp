// UTF-8 decoding with per-byte recovery.
#include "Utf8.h"

namespace TEV {
namespace detail {

namespace {

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the well-formed sequence starting at text[pos] and its code
// point, or length 0 when the byte there does not start one.
std::size_t readSequence(const std::string& text, std::size_t pos, char32_t& cp) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(pos);
    std::size_t len;
    char32_t min;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        len = 2, min = 0x80, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        len = 3, min = 0x800, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - pos < len) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if (!isContinuation(at(pos + k))) return 0;
        cp = (cp << 6) | (at(pos + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

std::vector<char32_t> decodeUtf8(const std::string& text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t cp = 0;
        const std::size_t len = readSequence(text, pos, cp);
        if (len == 0) {
            ++pos;
            continue;
        }
        out.push_back(cp);
        pos += len;
    }
    return out;
}

}  // namespace detail
}  // namespace TEV
