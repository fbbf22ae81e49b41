// Texts in JSON documents, with the bytes of names kept exactly.
//
// File names are bytes, not always UTF-8. In every JSON document this system
// writes, valid UTF-8 passes as it is, and each byte that is not part of a
// valid UTF-8 sequence is written as \u00XX (XX its value, 80 to ff): a name's
// byte 0xE9 becomes "\u00e9", while the character é (bytes C3 A9) stays "é".
// Reading takes \u0080 to \u00ff back as those single bytes, so a name's
// bytes survive a write and a read exactly. Any other escape means its
// character, as in every JSON text; a lone surrogate (\ud800 without its
// pair) is not text and makes the document unreadable.
//
// The documents themselves are read and written by nlohmann-json; this unit
// only adds the convention above around it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace TEV::JsonText {

// A JSON value whose objects keep their members in the order written.
using Json = nlohmann::ordered_json;

// The length of the valid UTF-8 sequence that starts at text[at] (1 for
// ASCII), 0 when there is none there: a stray continuation byte, an overlong
// form, a surrogate, a value beyond U+10FFFF or a sequence cut short.
std::size_t utf8SequenceAt(const std::string& text, std::size_t at);

// `value` as one line of JSON (no line feed), strings under the convention.
std::string dump(const Json& value);

// `bytes` as a JSON string literal, quotes included: dump(bytes).
std::string quote(const std::string& bytes);

// The one JSON value that `text` holds, strings under the convention;
// nothing for malformed or truncated text, a lone surrogate, or nesting
// deeper than 32.
std::optional<Json> parse(const std::string& text);

}  // namespace TEV::JsonText
