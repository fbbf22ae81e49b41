// decode_base64: the alphabet, "=" as a zero symbol, and its errors.
#include <gtest/gtest.h>

#include "TEV_Image.h"
#include "ThrownError.h"

namespace {

std::vector<unsigned char> bytes(const std::string& s) { return {s.begin(), s.end()}; }

// The TEVErr that decoding `text` throws; fails the test when none is thrown.
TEV::TEVErr decodeError(const std::string& text) {
    SCOPED_TRACE("decoding \"" + text + "\"");
    return TEV::Test::thrownBy([&] { TEV::decode_base64(text); });
}

}  // namespace

TEST(DecodeBase64, StandardFormsDecode) {
    EXPECT_EQ(TEV::decode_base64("QUJD"), bytes("ABC"));
    EXPECT_EQ(TEV::decode_base64("SGVsbG8sIHdvcmxkIQ"), bytes("Hello, world!"));
    EXPECT_EQ(TEV::decode_base64("+/+/"), (std::vector<unsigned char>{0xFB, 0xFF, 0xBF}));
    EXPECT_EQ(TEV::decode_base64(""), std::vector<unsigned char>{});
    EXPECT_EQ(TEV::decode_base64("QQ"), bytes("A"));  // bits short of a byte are dropped
}

TEST(DecodeBase64, EqualsSignIsAZeroSymbol) {
    EXPECT_EQ(TEV::decode_base64("QUI="), (std::vector<unsigned char>{'A', 'B', 0}));
    EXPECT_EQ(TEV::decode_base64("QQ=="), (std::vector<unsigned char>{'A', 0, 0}));
    EXPECT_EQ(TEV::decode_base64("===="), (std::vector<unsigned char>{0, 0, 0}));
}

TEST(DecodeBase64, CharactersOutsideTheAlphabetFailWithCode12) {
    for (const std::string& bad : {std::string("QU\nJD"), std::string("QU JD"), std::string("QUJ-"),
                                   std::string("QUJ\xC3\xA9"), std::string("QU\0D", 4)}) {
        const TEV::TEVErr e = decodeError(bad);
        EXPECT_EQ(e.type, TEV::ErrorDecodingBase64Image);
        EXPECT_EQ(e.detail, "attempt to decode a value not in base64 char set");
        EXPECT_EQ(e.context, "");
    }
}

TEST(DecodeBase64, LoneFinalCharacterFailsInsteadOfReadingPastTheText) {
    for (const char* bad : {"Q", "QUJDR"}) {
        const TEV::TEVErr e = decodeError(bad);
        EXPECT_EQ(e.type, TEV::ErrorDecodingBase64Image) << bad;
    }
}
