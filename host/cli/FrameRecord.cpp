#include "FrameRecord.h"

#include <cstdio>

namespace TEV::Host::Cli {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;  // UTF-8 bytes pass through
            }
        }
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

}  // namespace TEV::Host::Cli
