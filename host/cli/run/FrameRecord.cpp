#include "run/FrameRecord.h"

#include <cstdio>

namespace TEV::Host::Cli {

namespace {

// The length of the valid UTF-8 sequence at text[i], 0 when there is none
// (stray continuation byte, overlong form, surrogate, beyond U+10FFFF, cut short).
std::size_t utf8SequenceAt(const std::string& text, std::size_t i) {
    const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

void appendEscaped(std::string& out, unsigned value) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", value);
    out += escaped;
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            const std::size_t length = utf8SequenceAt(text, i);
            if (length == 0) {
                appendEscaped(out, u);
                ++i;
            } else {
                out.append(text, i, length);
                i += length;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                appendEscaped(out, u);
            } else {
                out += c;
            }
        }
        ++i;
    }
    return out + "\"";
}

std::string toJsonLine(const FrameRecord& r) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
    return "{\"frame\":" + std::to_string(r.frame) + ",\"input\":" + jsonString(r.input) +
           ",\"output\":" + jsonString(r.output) + ",\"seconds\":" + seconds + ",\"verdict\":" +
           jsonString(r.verdict) + ",\"message\":" + jsonString(r.message) + "}";
}

std::string toJsonLine(const RunSummary& s) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", s.seconds);
    const auto field = [](const char* name, int value) {
        return std::string("\"") + name + "\":" + std::to_string(value) + ",";
    };
    return "{\"summary\":{" + field("frames", s.frames) + field("processed", s.processed) +
           field("unchanged", s.unchanged) + field("overlay", s.overlay) + field("failed", s.failed) +
           field("aborted", s.aborted) + field("skipped", s.skipped) + field("not_started", s.not_started) +
           "\"seconds\":" + seconds + ",\"exit_status\":" + std::to_string(s.exit_status) + "}}";
}

}  // namespace TEV::Host::Cli
