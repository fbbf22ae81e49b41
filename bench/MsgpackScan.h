// Reading MessagePack in place: find an entry of a map and the exact bytes of
// its encoded value, without building a tree and without copying. The bench
// server answers with byte ranges of the request it received; the floor
// measurement finds the pixel block of an encoded request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace TEV::Bench {

// A range of encoded bytes; `data` is null for "not found".
struct Span {
    const char* data = nullptr;
    std::size_t size = 0;
    explicit operator bool() const { return data != nullptr; }
};

// The bytes of the first complete object in `in`; an empty Span when `in`
// is truncated or holds the reserved byte 0xc1.
Span firstObject(Span in);

// The encoded value stored under the str key `key` of the map object `map`;
// an empty Span when `map` is no map, lacks the key or is malformed.
Span mapValue(Span map, std::string_view key);

// The text of a str object; false when `object` is no str.
bool readStr(Span object, std::string_view& text);

// The payload of a bin object; false when `object` is no bin.
bool readBin(Span object, Span& payload);

}  // namespace TEV::Bench
