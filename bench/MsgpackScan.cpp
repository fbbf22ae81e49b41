// Walks MessagePack headers without recursion: each header consumes one
// pending object and adds its children (2 per map pair) to the count.
#include "MsgpackScan.h"

namespace TEV::Bench {

namespace {

using Byte = unsigned char;

std::uint64_t bigEndian(const Byte* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// One header at p: how many bytes the header takes (type byte included),
// how many payload bytes follow it, and how many child objects it opens.
// False for the reserved byte or a header cut short.
bool readHeader(const Byte* p, const Byte* end, std::size_t& header, std::uint64_t& payload,
                std::uint64_t& children) {
    const Byte b = *p;
    header = 1;
    payload = 0;
    children = 0;
    auto sized = [&](int length_bytes, std::uint64_t extra, std::uint64_t per_item, bool items) {
        if (end - p < 1 + length_bytes) return false;
        const std::uint64_t n = bigEndian(p + 1, length_bytes);
        header = 1 + length_bytes;
        if (items)
            children = n * per_item;
        else
            payload = n + extra;
        return true;
    };
    if (b <= 0x7f || b >= 0xe0 || b == 0xc0 || b == 0xc2 || b == 0xc3) return true;
    if (b <= 0x8f) return children = 2 * (b & 0x0f), true;
    if (b <= 0x9f) return children = b & 0x0f, true;
    if (b <= 0xbf) return payload = b & 0x1f, true;
    switch (b) {
        case 0xc4: case 0xd9: return sized(1, 0, 0, false);  // bin 8, str 8
        case 0xc5: case 0xda: return sized(2, 0, 0, false);
        case 0xc6: case 0xdb: return sized(4, 0, 0, false);
        case 0xc7: return sized(1, 1, 0, false);  // ext: one type byte more
        case 0xc8: return sized(2, 1, 0, false);
        case 0xc9: return sized(4, 1, 0, false);
        case 0xca: case 0xce: case 0xd2: return payload = 4, true;
        case 0xcb: case 0xcf: case 0xd3: return payload = 8, true;
        case 0xcc: case 0xd0: return payload = 1, true;
        case 0xcd: case 0xd1: return payload = 2, true;
        case 0xd4: return payload = 2, true;  // fixext: type byte + data
        case 0xd5: return payload = 3, true;
        case 0xd6: return payload = 5, true;
        case 0xd7: return payload = 9, true;
        case 0xd8: return payload = 17, true;
        case 0xdc: return sized(2, 0, 1, true);
        case 0xdd: return sized(4, 0, 1, true);
        case 0xde: return sized(2, 0, 2, true);
        case 0xdf: return sized(4, 0, 2, true);
        default: return false;  // 0xc1
    }
}

}  // namespace

Span firstObject(Span in) {
    if (!in) return {};
    const Byte* p = reinterpret_cast<const Byte*>(in.data);
    const Byte* end = p + in.size;
    std::uint64_t pending = 1;
    while (pending > 0) {
        if (p >= end) return {};
        std::size_t header;
        std::uint64_t payload, children;
        if (!readHeader(p, end, header, payload, children)) return {};
        if (payload > static_cast<std::uint64_t>(end - p) - header) return {};
        p += header + payload;
        pending += children - 1;
    }
    return {in.data, static_cast<std::size_t>(reinterpret_cast<const char*>(p) - in.data)};
}

Span mapValue(Span map, std::string_view key) {
    if (!map || map.size == 0) return {};
    const Byte* p = reinterpret_cast<const Byte*>(map.data);
    const Byte* end = p + map.size;
    std::size_t header;
    std::uint64_t payload, children;
    if (!readHeader(p, end, header, payload, children)) return {};
    const Byte b = *p;
    if (!((b >= 0x80 && b <= 0x8f) || b == 0xde || b == 0xdf)) return {};
    Span rest{map.data + header, map.size - header};
    for (std::uint64_t pair = 0; pair < children / 2; ++pair) {
        const Span k = firstObject(rest);
        if (!k) return {};
        rest = {k.data + k.size, rest.size - k.size};
        const Span v = firstObject(rest);
        if (!v) return {};
        rest = {v.data + v.size, rest.size - v.size};
        std::string_view text;
        if (readStr(k, text) && text == key) return v;
    }
    return {};
}

bool readStr(Span object, std::string_view& text) {
    if (!object || object.size == 0) return false;
    const Byte* p = reinterpret_cast<const Byte*>(object.data);
    const Byte b = *p;
    if (!((b >= 0xa0 && b <= 0xbf) || (b >= 0xd9 && b <= 0xdb))) return false;
    std::size_t header;
    std::uint64_t payload, children;
    if (!readHeader(p, p + object.size, header, payload, children) || payload > object.size - header)
        return false;
    text = std::string_view(object.data + header, static_cast<std::size_t>(payload));
    return true;
}

bool readBin(Span object, Span& bytes) {
    if (!object || object.size == 0) return false;
    const Byte* p = reinterpret_cast<const Byte*>(object.data);
    if (*p < 0xc4 || *p > 0xc6) return false;
    std::size_t header;
    std::uint64_t payload, children;
    if (!readHeader(p, p + object.size, header, payload, children) || payload > object.size - header)
        return false;
    bytes = {object.data + header, static_cast<std::size_t>(payload)};
    return true;
}

}  // namespace TEV::Bench
