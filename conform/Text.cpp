// Escaping and cutting of server texts for the report.
#include "Text.h"

#include <cstdio>

#include "JsonText.h"

namespace TEV {
namespace Conform {

namespace {

std::size_t sequenceAt(const std::string& text, std::size_t at) { return JsonText::utf8SequenceAt(text, at); }

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

}  // namespace Conform
}  // namespace TEV
