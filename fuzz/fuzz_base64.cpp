// decode_base64 against a straightforward reference: every character of the
// standard alphabet (and "=", worth six zero bits) adds six bits, most
// significant first, and each whole eight bits make a byte; a text of 4k+1
// characters, or one holding any other character, fails with code 12.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "TEV_Image.h"

namespace {

// Six-bit value of a base64 character, or -1.
int sextet(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return 0;
    return -1;
}

// The expected bytes, or false when decoding must fail.
bool reference(const std::string& text, std::vector<unsigned char>& out) {
    if (text.size() % 4 == 1) return false;  // the last byte would need bits beyond the text
    unsigned bits = 0, held = 0;
    for (unsigned char c : text) {
        const int v = sextet(c);
        if (v < 0) return false;
        bits = (bits << 6 | unsigned(v)) & 0xfff;
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<unsigned char>(bits >> held));
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<unsigned char> expected;
    const bool valid = reference(text, expected);
    try {
        const std::vector<unsigned char> decoded = TEV::decode_base64(text);
        FUZZ_CHECK(valid, "invalid text decoded without an error");
        FUZZ_CHECK(decoded == expected, "decoded bytes differ from the reference");
    } catch (const TEV::TEVErr& e) {
        FUZZ_CHECK(e.type == TEV::ErrorDecodingBase64Image, "base64 errors carry code 12");
        FUZZ_CHECK(!e.detail.empty(), "base64 errors say what went wrong");
        FUZZ_CHECK(!valid, "valid text failed to decode");
    }
    return 0;
}
