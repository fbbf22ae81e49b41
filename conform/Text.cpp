// Escaping and cutting of server texts for the report.
#include "Text.h"

#include <cstdio>

namespace TEV {
namespace Conform {

namespace {

// Length of the well-formed UTF-8 sequence at `at`, 0 when there is none
// (stray continuation bytes, overlong forms, surrogates, values above U+10FFFF).
std::size_t sequenceAt(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xbf;  // range of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;
        if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xbf) return 0;
    return length;
}

std::string hexByte(unsigned char b) {
    char out[8];
    std::snprintf(out, sizeof out, "\\x%02x", b);
    return out;
}

}  // namespace

std::size_t firstBadUtf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = sequenceAt(text, at);
        if (n == 0) return at;
        at += n;
    }
    return std::string::npos;
}

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = sequenceAt(text, at);
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (n == 0) {
            out += hexByte(c);
            ++at;
            continue;
        }
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            out += hexByte(c);
        } else if (n == 2 && c == 0xc2 && static_cast<unsigned char>(text[at + 1]) < 0xa0) {
            out += hexByte(c) + hexByte(static_cast<unsigned char>(text[at + 1]));  // C1 controls
        } else {
            out.append(text, at, n);
        }
        at += n;
    }
    return out;
}

std::string quoted(const std::string& text, std::size_t max_chars) {
    std::string cut;
    std::size_t chars = 0;
    std::size_t at = 0;
    while (at < text.size() && chars < max_chars) {
        const std::size_t n = sequenceAt(text, at);
        const std::size_t take = n == 0 ? 1 : n;
        cut.append(text, at, take);
        at += take;
        ++chars;
    }
    return "\"" + printable(cut) + (at < text.size() ? "...\"" : "\"");
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = sequenceAt(text, at);
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (n == 0) {
            out += "\\ufffd";
            ++at;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, at, n);
        }
        at += n;
    }
    return out + "\"";
}

}  // namespace Conform
}  // namespace TEV
