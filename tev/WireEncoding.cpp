// MessagePack form of a Dict: Dict::pack, msgpack_to_dict, decode_message.
#include <algorithm>
#include <cstring>
#include <limits>

#include "ImageDictionary.h"
#include "KeptBins.h"
#include "TEV.h"

namespace TEV {

namespace {

using ArrayT = std::vector<Dict>;
using MapT = std::map<std::string, Dict>;

constexpr std::size_t kMaxWireSize = std::numeric_limits<std::uint32_t>::max();

// MessagePack headers carry 32-bit sizes; msgpack-c's packer would silently
// truncate a larger one, so refuse it before anything is written.
std::uint32_t wireSize(std::size_t n, const char* what) {
    if (n > kMaxWireSize) {
        if (std::strcmp(what, "String") == 0) throw msgpack::container_size_overflow("container size overflow");
        throw msgpack::container_size_overflow(std::string(what) + " of " + std::to_string(n) +
                                               " entries is too large for MessagePack (at most 4294967295)");
    }
    return static_cast<std::uint32_t>(n);
}

// Appends bytes as they are (pack_bin_body writes no header of its own).
void appendRaw(msgpack::packer<msgpack::sbuffer>& pk, const char* data, std::size_t n) {
    while (n > 0) {
        std::uint32_t chunk = static_cast<std::uint32_t>(std::min<std::size_t>(n, kMaxWireSize));
        pk.pack_bin_body(data, chunk);
        data += chunk;
        n -= chunk;
    }
}

// msgpack-c writes a whole-number double as an integer; the wire form here is
// always float 64: 0xcb and the eight bytes of the double, big-endian.
void packFloat64(msgpack::packer<msgpack::sbuffer>& pk, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    char buf[9];
    buf[0] = static_cast<char>(0xcb);
    for (int i = 0; i < 8; ++i) buf[1 + i] = static_cast<char>(bits >> (56 - 8 * i));
    appendRaw(pk, buf, sizeof buf);
}

// ---- encoding ---------------------------------------------------------------

// The nodes written from referenced bytes, and where their blocks go.
struct Splicing {
    const std::vector<std::pair<const Dict*, ByteSpan>>* referenced;
    EncodedMessage* out;

    const ByteSpan* find(const Dict& node) const {
        for (const auto& r : *referenced)
            if (r.first == &node) return &r.second;
        return nullptr;
    }
};

void packNode(msgpack::packer<msgpack::sbuffer>& pk, const Dict& node, const Splicing* splicing) {
    if (splicing) {
        if (const ByteSpan* bytes = splicing->find(node)) {
            pk.pack_bin(wireSize(bytes->size, "Bytes"));
            splicing->out->splices.push_back({splicing->out->head.size(), *bytes});
            return;
        }
    }
    switch (node.type) {
        case Dict::Null:
            pk.pack_nil();
            break;
        case Dict::Bool:
            if (std::get<bool>(node.value)) pk.pack_true(); else pk.pack_false();
            break;
        case Dict::Int:
            pk.pack_int64(std::get<long long>(node.value));
            break;
        case Dict::Float:
            packFloat64(pk, std::get<double>(node.value));
            break;
        case Dict::String: {
            const auto& s = std::get<std::string>(node.value);
            pk.pack_str(wireSize(s.size(), "String"));
            appendRaw(pk, s.data(), s.size());
            break;
        }
        case Dict::Bytes: {
            // Pixels are the bulk of every message: one header, one append.
            const auto& b = std::get<std::vector<char>>(node.value);
            pk.pack_bin(wireSize(b.size(), "Bytes"));
            appendRaw(pk, b.data(), b.size());
            break;
        }
        case Dict::Array: {
            const auto& a = std::get<std::vector<Dict>>(node.value);
            pk.pack_array(wireSize(a.size(), "Array"));
            for (const Dict& item : a) packNode(pk, item, splicing);
            break;
        }
        case Dict::Map: {
            const auto& m = std::get<std::map<std::string, Dict>>(node.value);
            pk.pack_map(wireSize(m.size(), "Map"));
            for (const auto& kv : m) {
                pk.pack_str(wireSize(kv.first.size(), "String"));
                appendRaw(pk, kv.first.data(), kv.first.size());
                packNode(pk, kv.second, splicing);
            }
            break;
        }
    }
}

// ---- decoding ---------------------------------------------------------------

// Bins set apart while the body arrived, found by where their stand-in's
// payload lies in the decoded buffer.
struct KeptLookup {
    const char* base;
    std::vector<detail::KeptBin>* bins;

    std::vector<char>* find(const char* payload) const {
        const std::size_t at = static_cast<std::size_t>(payload - base);
        auto it = std::lower_bound(bins->begin(), bins->end(), at,
                                   [](const detail::KeptBin& b, std::size_t a) { return b.at < a; });
        return it != bins->end() && it->at == at ? &it->bytes : nullptr;
    }
};

Dict toDict(const msgpack::object& obj, std::size_t depth, const KeptLookup* kept);

Dict imageFromEntries(Dict&& entries) {
    Image fields;
    detail::readImageFields(entries, fields, /*ratios_from_int=*/false);
    Dict& pixels = entries["pixels"];
    if (fields.bit_depth == 32) {
        std::vector<char> bytes;
        std::vector<float> samples;
        if (pixels.type == Dict::Bytes) {
            // Already the float store's wire form: keep the bytes, whole floats only.
            bytes = std::move(std::get<std::vector<char>>(pixels.value));
            bytes.resize(bytes.size() / sizeof(float) * sizeof(float));
        } else if (detail::readFloatSamples(pixels, samples) && !samples.empty()) {
            bytes.resize(samples.size() * sizeof(float));
            std::memcpy(bytes.data(), samples.data(), bytes.size());
        }
        // Without a single sample the image has no pixels, like one whose entry
        // is missing: an empty byte store. Deciding by the samples, not by the
        // entry's kind, keeps the form the same when the image is sent again.
        const bool float_store = !bytes.empty();
        return detail::canonicalImageDict(fields, std::move(bytes), float_store);
    }
    if (pixels.type == Dict::Bytes)
        return detail::canonicalImageDict(fields, std::move(std::get<std::vector<char>>(pixels.value)), false);
    return detail::canonicalImageDict(fields, {}, false);
}

Dict mapToDict(const msgpack::object_map& m, std::size_t depth, const KeptLookup* kept) {
    // The marker: the first str "TEV_Dict_Type" key with a str value decides.
    bool marked = false;
    for (std::uint32_t i = 0; i < m.size; ++i) {
        const msgpack::object& k = m.ptr[i].key;
        const msgpack::object& v = m.ptr[i].val;
        if (k.type == msgpack::type::STR && v.type == msgpack::type::STR &&
            std::string(k.via.str.ptr, k.via.str.size) == "TEV_Dict_Type") {
            marked = std::string(v.via.str.ptr, v.via.str.size) == "Image";
            break;
        }
    }
    Dict entries;
    for (std::uint32_t i = 0; i < m.size; ++i) {
        const msgpack::object& k = m.ptr[i].key;
        if (k.type != msgpack::type::STR) continue;
        entries[std::string(k.via.str.ptr, k.via.str.size)] = toDict(m.ptr[i].val, depth + 1, kept);
    }
    if (marked || entries.isImage()) return imageFromEntries(std::move(entries));
    return entries;
}

Dict toDict(const msgpack::object& obj, std::size_t depth, const KeptLookup* kept) {
    switch (obj.type) {
        case msgpack::type::BOOLEAN:
            return Dict(obj.via.boolean);
        case msgpack::type::POSITIVE_INTEGER:
            return Dict(static_cast<long long>(obj.via.u64));
        case msgpack::type::NEGATIVE_INTEGER:
            return Dict(static_cast<long long>(obj.via.i64));
        case msgpack::type::FLOAT64:
            return Dict(obj.via.f64);
        case msgpack::type::STR:
            return Dict(std::string(obj.via.str.ptr, obj.via.str.size));
        case msgpack::type::BIN:
            if (kept) {
                if (std::vector<char>* bytes = kept->find(obj.via.bin.ptr)) return Dict(std::move(*bytes));
            }
            return Dict(std::vector<char>(obj.via.bin.ptr, obj.via.bin.ptr + obj.via.bin.size));
        case msgpack::type::ARRAY: {
            if (depth >= kMaxDecodeDepth)
                throw TEVErr(ErrorDecodingMessage, "nesting deeper than " + std::to_string(kMaxDecodeDepth) + " levels", "");
            if (obj.via.array.size == 0) return Dict();
            std::vector<Dict> items;
            items.reserve(obj.via.array.size);
            for (std::uint32_t i = 0; i < obj.via.array.size; ++i)
                items.push_back(toDict(obj.via.array.ptr[i], depth + 1, kept));
            return Dict(std::move(items));
        }
        case msgpack::type::MAP:
            if (depth >= kMaxDecodeDepth)
                throw TEVErr(ErrorDecodingMessage, "nesting deeper than " + std::to_string(kMaxDecodeDepth) + " levels", "");
            return mapToDict(obj.via.map, depth, kept);
        default:  // nil, float 32, ext
            return Dict();
    }
}

}  // namespace

void Dict::pack(msgpack::packer<msgpack::sbuffer>& pk) const { packNode(pk, *this, nullptr); }

Dict msgpack_to_dict(const msgpack::object& obj) { return toDict(obj, 0, nullptr); }

msgpack::unpack_limit unpack_limits_for(std::size_t body_size) {
    const std::size_t n = std::min(body_size, kMaxWireSize);
    return msgpack::unpack_limit(n, n / 2, n, n, n, kMaxDecodeDepth);
}

MessageDict decode_message(const char* data, std::size_t size) {
    // Strings and bins reference the body instead of being copied into the
    // zone: msgpack_to_dict copies them once, into the tree.
    auto reference = [](msgpack::type::object_type, std::size_t, void*) { return true; };
    std::size_t offset = 0;
    msgpack::object_handle handle = msgpack::unpack(data, size, offset, reference, nullptr, unpack_limits_for(size));
    return MessageDict(msgpack_to_dict(handle.get()));
}

EncodedMessage encode_referencing(const Dict& dict,
                                  const std::vector<std::pair<const Dict*, ByteSpan>>& referenced,
                                  std::size_t initial_size) {
    EncodedMessage message(initial_size);
    msgpack::packer<msgpack::sbuffer> pk(message.head);
    const Splicing splicing{&referenced, &message};
    packNode(pk, dict, &splicing);
    return message;
}

std::size_t EncodedMessage::size() const {
    std::size_t n = head.size();
    for (const Splice& s : splices) n += s.bytes.size;
    return n;
}

std::size_t EncodedMessage::copy(std::size_t offset, char* out, std::size_t n) const {
    // The message is head[0, at0), block 0, head[at0, at1), block 1, ... head[atN, end).
    std::size_t written = 0;
    std::size_t piece_start = 0;  // message offset of the current piece
    std::size_t head_from = 0;
    auto take = [&](const char* data, std::size_t size) {
        const std::size_t at = offset + written;
        if (written < n && at >= piece_start && at < piece_start + size) {
            const std::size_t from = at - piece_start;
            const std::size_t count = std::min(size - from, n - written);
            std::memcpy(out + written, data + from, count);
            written += count;
        }
        piece_start += size;
    };
    for (const Splice& s : splices) {
        take(head.data() + head_from, s.at - head_from);
        take(s.bytes.data, s.bytes.size);
        head_from = s.at;
    }
    take(head.data() + head_from, head.size() - head_from);
    return written;
}

namespace detail {

MessageDict decodeWithKeptBins(const char* data, std::size_t size, std::vector<KeptBin>& kept,
                               std::size_t limit_size) {
    auto reference = [](msgpack::type::object_type, std::size_t, void*) { return true; };
    std::size_t offset = 0;
    msgpack::object_handle handle =
        msgpack::unpack(data, size, offset, reference, nullptr, unpack_limits_for(limit_size));
    const KeptLookup lookup{data, &kept};
    return MessageDict(toDict(handle.get(), 0, &lookup));
}

}  // namespace detail

msgpack::sbuffer encode_message(const Dict& dict, std::size_t initial_size) {
    msgpack::sbuffer buffer(initial_size);
    msgpack::packer<msgpack::sbuffer> pk(buffer);
    dict.pack(pk);
    return buffer;
}

}  // namespace TEV
