// Wire encoding round trip: decode arbitrary bytes, then encode and decode
// again. The first decoding may still change a tree (a map that only becomes
// an image dictionary once duplicate keys have collapsed, for instance), but
// from the second pass on the tree must come back unchanged: encoding(d2) ==
// encoding(d3). A tree that was decoded must always encode, and its
// encoding must always decode.
#include <cstdint>
#include <cstring>

#include "FuzzCheck.h"
#include "TEV.h"

namespace {

bool sameBytes(const msgpack::sbuffer& a, const msgpack::sbuffer& b) {
    return a.size() == b.size() && (a.size() == 0 || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// Decoding our own encoding must not fail.
TEV::MessageDict decodeOwn(const msgpack::sbuffer& encoded) {
    try {
        return TEV::decode_message(encoded.data(), encoded.size());
    } catch (const msgpack::unpack_error& e) {
        FUZZ_CHECK(false, e.what());
    } catch (const TEV::TEVErr& e) {
        FUZZ_CHECK(false, e.message().c_str());
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TEV::MessageDict first;
    try {
        first = TEV::decode_message(reinterpret_cast<const char*>(data), size);
    } catch (const msgpack::unpack_error&) {
        return 0;
    } catch (const TEV::TEVErr& e) {
        FUZZ_CHECK(e.type == TEV::ErrorDecodingMessage, "decoding fails with code 6 only");
        return 0;
    }

    const msgpack::sbuffer e1 = TEV::encode_message(first, 64);
    const TEV::Dict second = decodeOwn(e1);
    const msgpack::sbuffer e2 = TEV::encode_message(second, 64);
    const TEV::Dict third = decodeOwn(e2);
    const msgpack::sbuffer e3 = TEV::encode_message(third, 64);
    FUZZ_CHECK(sameBytes(e2, e3), "decode -> encode is stable from the second pass on");
    return 0;
}
