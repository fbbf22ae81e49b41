#include "JsonText.h"

#include <cstdio>

namespace TEV::JsonText {

namespace {

// nlohmann-json reads \u00e9 as the character é and writes only valid UTF-8,
// so a byte that is not UTF-8 travels through it as a pair: the NUL
// character, then the character of the byte's value (U+0080 to U+00FF). A
// NUL of the text itself travels as two NULs. File names hold no NUL, and
// every NUL of a document is paired, so the pairs cannot be mistaken.
constexpr char kMark = '\0';

std::string pairUp(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t n = utf8SequenceAt(bytes, at);
        const auto byte = static_cast<unsigned char>(bytes[at]);
        if (byte == 0) {
            out += {kMark, kMark};
        } else if (n == 0) {
            out += kMark;
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        } else {
            out.append(bytes, at, n);
            at += n;
            continue;
        }
        ++at;
    }
    return out;
}

std::string unpair(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != kMark || at + 1 >= text.size()) {
            out += text[at];
        } else if (text[at + 1] == kMark) {
            out += kMark;
            ++at;
        } else if (at + 2 < text.size()) {  // U+0080..U+00FF: C2 or C3, then one byte
            const auto lead = static_cast<unsigned char>(text[at + 1]);
            out += static_cast<char>(((lead & 0x03) << 6) | (static_cast<unsigned char>(text[at + 2]) & 0x3F));
            at += 2;
        }
    }
    return out;
}

// A copy of `value` with every string, keys included, passed through `f`.
template <class F>
Json mapStrings(const Json& value, const F& f) {
    if (value.is_string()) return f(value.get_ref<const std::string&>());
    if (value.is_array()) {
        Json out = Json::array();
        for (const Json& item : value) out.push_back(mapStrings(item, f));
        return out;
    }
    if (value.is_object()) {
        Json out = Json::object();
        for (const auto& [key, item] : value.items()) out[f(key)] = mapStrings(item, f);
        return out;
    }
    return value;
}

int hexValue(const std::string& text, std::size_t at) {
    if (at + 4 > text.size()) return -1;
    int v = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const char c = text[i];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

constexpr int kMostNesting = 32;

}  // namespace

std::size_t utf8SequenceAt(const std::string& text, std::size_t at) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
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
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

std::string dump(const Json& value) {
    const std::string paired = mapStrings(value, pairUp).dump(-1, ' ', false, Json::error_handler_t::strict);
    // The library writes the NUL as \u0000 and U+0080..U+00FF as their UTF-8.
    static const std::string kNul = "\\u0000";
    std::string out;
    out.reserve(paired.size());
    for (std::size_t at = 0; at < paired.size();) {
        if (paired[at] != '\\') {
            out += paired[at++];
        } else if (paired.compare(at, kNul.size(), kNul) != 0) {
            out.append(paired, at, 2);  // another escape: its second character is no backslash
            at += 2;
        } else if (paired.compare(at + kNul.size(), kNul.size(), kNul) == 0) {
            out += kNul;
            at += 2 * kNul.size();
        } else {
            const std::string pair = unpair(std::string(1, kMark) + paired.substr(at + kNul.size(), 2));
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(pair[0]));
            out += escaped;
            at += kNul.size() + 2;
        }
    }
    return out;
}

std::string quote(const std::string& bytes) { return dump(Json(bytes)); }

std::optional<Json> parse(const std::string& text) {
    std::string paired;
    paired.reserve(text.size());
    bool in_string = false;
    int depth = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (!in_string) {
            if (c == '"') in_string = true;
            if (c == '[' || c == '{') ++depth;
            if (c == ']' || c == '}') --depth;
            if (depth > kMostNesting) return std::nullopt;
            paired += c;
        } else if (c == '"') {
            in_string = false;
            paired += c;
        } else if (c != '\\' || at + 1 >= text.size()) {
            paired += c;
        } else {
            const int v = text[at + 1] == 'u' ? hexValue(text, at + 2) : -1;
            if (v == 0 || (v >= 0x80 && v <= 0xFF)) paired += "\\u0000";
            paired.append(text, at, 2);
            ++at;
        }
    }
    const Json value = Json::parse(paired, nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return mapStrings(value, unpair);
}

}  // namespace TEV::JsonText
