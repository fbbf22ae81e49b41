// A small JSON reader for the front end's own records (--report lines):
// one value per text, no extensions, nesting limited.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace TEV::Host::Cli {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;                                        // String
    std::vector<JsonValue> items;                            // Array
    std::vector<std::pair<std::string, JsonValue>> members;  // Object, in order

    // The member `key` of an object (the last one of that name), or null.
    const JsonValue* find(const std::string& key) const;
};

// The one JSON value that `text` holds (white space around it allowed);
// nothing for malformed or truncated text, or nesting deeper than 32.
std::optional<JsonValue> parseJson(const std::string& text);

}  // namespace TEV::Host::Cli
