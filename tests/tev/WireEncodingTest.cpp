// MessagePack form of the value tree: exact header widths, the decoder's
// folding rules, image rebuilding, and the bounds on untrusted input.
#include <gtest/gtest.h>

#include <cstring>

#include "TEV.h"
#include "ThrownError.h"

using TEV::Dict;

namespace {

std::string encode(const Dict& d) {
    msgpack::sbuffer buf = TEV::encode_message(d);
    return std::string(buf.data(), buf.size());
}

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s.push_back(static_cast<char>(c));
    return s;
}

Dict decode(const std::string& wire) { return TEV::decode_message(wire.data(), wire.size()); }

// Header of an encoded value whose body is `n` bytes or elements long.
std::string head(const Dict& d, std::size_t headerLen) { return encode(d).substr(0, headerLen); }

}  // namespace

TEST(EncodeScalars, IntegersTakeTheShortestForm) {
    EXPECT_EQ(encode(Dict(5)), bytes({0x05}));
    EXPECT_EQ(encode(Dict(127)), bytes({0x7f}));
    EXPECT_EQ(encode(Dict(128)), bytes({0xcc, 0x80}));
    EXPECT_EQ(encode(Dict(200)), bytes({0xcc, 0xc8}));
    EXPECT_EQ(encode(Dict(256)), bytes({0xcd, 0x01, 0x00}));
    EXPECT_EQ(encode(Dict(65536)), bytes({0xce, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(encode(Dict(4294967296ll)), bytes({0xcf, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(encode(Dict(-1)), bytes({0xff}));
    EXPECT_EQ(encode(Dict(-32)), bytes({0xe0}));
    EXPECT_EQ(encode(Dict(-33)), bytes({0xd0, 0xdf}));
    EXPECT_EQ(encode(Dict(-129)), bytes({0xd1, 0xff, 0x7f}));
    EXPECT_EQ(encode(Dict(-32769)), bytes({0xd2, 0xff, 0xff, 0x7f, 0xff}));
    EXPECT_EQ(encode(Dict(-2147483649ll)), bytes({0xd3, 0xff, 0xff, 0xff, 0xff, 0x7f, 0xff, 0xff, 0xff}));
}

TEST(EncodeScalars, FloatsAreAlwaysFloat64) {
    EXPECT_EQ(encode(Dict(1.0)), bytes({0xcb, 0x3f, 0xf0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(encode(Dict(0.0)), bytes({0xcb, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(encode(Dict(-2.0)), bytes({0xcb, 0xc0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(encode(Dict(1.5f)), bytes({0xcb, 0x3f, 0xf8, 0, 0, 0, 0, 0, 0}));
}

TEST(EncodeScalars, NilAndBooleans) {
    EXPECT_EQ(encode(Dict()), bytes({0xc0}));
    EXPECT_EQ(encode(Dict(true)), bytes({0xc3}));
    EXPECT_EQ(encode(Dict(false)), bytes({0xc2}));
}

TEST(EncodeSized, StringHeadersByLength) {
    EXPECT_EQ(head(Dict(std::string(31, 'a')), 1), bytes({0xbf}));
    EXPECT_EQ(head(Dict(std::string(32, 'a')), 2), bytes({0xd9, 32}));
    EXPECT_EQ(head(Dict(std::string(255, 'a')), 2), bytes({0xd9, 0xff}));
    EXPECT_EQ(head(Dict(std::string(256, 'a')), 3), bytes({0xda, 0x01, 0x00}));
    EXPECT_EQ(head(Dict(std::string(65536, 'a')), 5), bytes({0xdb, 0, 1, 0, 0}));
    EXPECT_EQ(encode(Dict("hi")), bytes({0xa2, 'h', 'i'}));
}

TEST(EncodeSized, BinHeadersByLength) {
    EXPECT_EQ(encode(Dict(std::vector<char>())), bytes({0xc4, 0x00}));
    EXPECT_EQ(head(Dict(std::vector<char>(255)), 2), bytes({0xc4, 0xff}));
    EXPECT_EQ(head(Dict(std::vector<char>(256)), 3), bytes({0xc5, 0x01, 0x00}));
    EXPECT_EQ(head(Dict(std::vector<char>(65536)), 5), bytes({0xc6, 0, 1, 0, 0}));
    EXPECT_EQ(encode(Dict(std::vector<char>(65536, 'z'))).size(), 65536u + 5);
}

TEST(EncodeSized, ArrayAndMapHeadersByCount) {
    Dict a15, a16;
    for (int i = 0; i < 15; ++i) a15.push_back(Dict(0));
    for (int i = 0; i < 16; ++i) a16.push_back(Dict(0));
    EXPECT_EQ(head(a15, 1), bytes({0x9f}));
    EXPECT_EQ(head(a16, 3), bytes({0xdc, 0x00, 0x10}));
    Dict a65536(std::vector<Dict>(65536));
    EXPECT_EQ(head(a65536, 5), bytes({0xdd, 0, 1, 0, 0}));

    Dict m15, m16;
    for (int i = 0; i < 15; ++i) m15["k" + std::to_string(i)] = 0;
    for (int i = 0; i < 16; ++i) m16["k" + std::to_string(i)] = 0;
    EXPECT_EQ(head(m15, 1), bytes({0x8f}));
    EXPECT_EQ(head(m16, 3), bytes({0xde, 0x00, 0x10}));
}

TEST(EncodeSized, MapKeysGoInByteOrderWhateverTheInsertionOrder) {
    Dict d;
    d["b"] = 1;
    d["ab"] = 2;
    d["a"] = 3;
    d["B"] = 4;
    EXPECT_EQ(encode(d), bytes({0x84, 0xa1, 'B', 0x04, 0xa1, 'a', 0x03, 0xa2, 'a', 'b', 0x02, 0xa1, 'b', 0x01}));
}

TEST(DecodeScalars, FoldsUnmappedFormsIntoNull) {
    EXPECT_EQ(decode(bytes({0xca, 0x3f, 0x80, 0, 0})).type, Dict::Null);  // float 32
    EXPECT_EQ(decode(bytes({0x90})).type, Dict::Null);                    // empty array
    EXPECT_EQ(decode(bytes({0x80})).type, Dict::Null);                    // empty map
    EXPECT_EQ(decode(bytes({0xd4, 0x01, 0x02})).type, Dict::Null);        // fixext 1
    EXPECT_EQ(decode(bytes({0xc0})).type, Dict::Null);
    Dict big = decode(bytes({0xcf, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}));
    EXPECT_EQ(std::get<long long>(big.value), -1);
    Dict f = decode(bytes({0xcb, 0x3f, 0xf0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(f.type, Dict::Float);
    EXPECT_EQ(std::get<double>(f.value), 1.0);
    EXPECT_EQ(decode(bytes({0xc4, 0x00})).type, Dict::Bytes);
}

TEST(DecodeContainers, KeepNullElementsAndOnlyStringKeys) {
    Dict a = decode(bytes({0x93, 0x01, 0xc0, 0xca, 0, 0, 0, 0}));
    ASSERT_EQ(a.type, Dict::Array);
    const auto& items = std::get<std::vector<Dict>>(a.value);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].type, Dict::Null);
    EXPECT_EQ(items[2].type, Dict::Null);

    Dict m = decode(bytes({0x82, 0x01, 0x02, 0xa1, 'k', 0x03}));  // {1: 2, "k": 3}
    ASSERT_EQ(m.type, Dict::Map);
    EXPECT_EQ((std::get<std::map<std::string, Dict>>(m.value).size()), 1u);
    EXPECT_EQ(m.getInt("k", 0), 3);

    EXPECT_EQ(decode(bytes({0x81, 0x01, 0x02})).type, Dict::Null);  // no str key at all

    Dict dup = decode(bytes({0x82, 0xa1, 'k', 0x01, 0xa1, 'k', 0x02}));
    EXPECT_EQ(dup.getInt("k", 0), 2);  // the later pair wins
}

TEST(DecodeContainers, RoundTripKeepsTheTree) {
    Dict d;
    d["s"] = "text";
    d["i"] = -70000;
    d["f"] = 0.25;
    d["b"] = true;
    d["bin"] = Dict(std::vector<char>{'\0', '\xff'});
    d["list"].push_back(Dict(1));
    d["list"].push_back(Dict("two"));
    d["nested"]["x"]["y"] = 3;
    Dict back = decode(encode(d));
    EXPECT_EQ(encode(back), encode(d));
    EXPECT_EQ(back.path("nested.x").getInt("y", 0), 3);
}

TEST(DecodeImages, MarkerAloneGivesTheCanonicalEmptyImage) {
    Dict marker;
    marker["TEV_Dict_Type"] = "Image";
    Dict img = decode(encode(marker));
    EXPECT_EQ(img.getString("TEV_Dict_Type", ""), "Image");
    for (const char* k : {"width", "height", "channels", "bit_depth", "rowbytes"}) EXPECT_EQ(img.getInt(k, -1), 0) << k;
    EXPECT_EQ(img.getFloat("pix_aspect_ratio", 0), 1.0);
    EXPECT_EQ(img.getFloat("downsample", 0), 1.0);
    EXPECT_EQ(img.get("pixels").type, Dict::Bytes);
    EXPECT_TRUE(std::get<std::vector<char>>(img.get("pixels").value).empty());
    EXPECT_EQ(img.getString("pixels_type", ""), "uint8");
}

TEST(DecodeImages, FiveKeysWithoutMarkerAreAnImageAndExtrasAreDropped) {
    Dict d;
    d["width"] = 1;
    d["height"] = 1;
    d["channels"] = 3;
    d["bit_depth"] = 8;
    d["pixels"] = Dict(std::vector<char>{1, 2, 3});
    d["extra"] = "dropped";
    d["pix_aspect_ratio"] = 2;  // an Int ratio counts as absent for the decoder
    Dict img = decode(encode(d));
    EXPECT_FALSE(img.contains("extra"));
    EXPECT_EQ(img.getString("TEV_Dict_Type", ""), "Image");
    EXPECT_EQ(img.getFloat("pix_aspect_ratio", 0), 1.0);
    EXPECT_EQ(std::get<std::vector<char>>(img.get("pixels").value).size(), 3u);
}

TEST(DecodeImages, FirstStringMarkerDecidesAndOtherValuesDoNotMark) {
    // {"TEV_Dict_Type": "Imagex"} is not marked, so it stays a plain map.
    Dict notImage;
    notImage["TEV_Dict_Type"] = "Imagex";
    Dict back = decode(encode(notImage));
    EXPECT_FALSE(back.contains("pixels"));
    EXPECT_EQ(back.getString("TEV_Dict_Type", ""), "Imagex");
}

TEST(DecodeImages, FloatArrayPixelsKeepNumbersOnly) {
    Dict d;
    d["TEV_Dict_Type"] = "Image";
    d["bit_depth"] = 32;
    d["pixels"].push_back(Dict(1));
    d["pixels"].push_back(Dict("skip"));
    d["pixels"].push_back(Dict(0.5));
    Dict img = decode(encode(d));
    EXPECT_EQ(img.getString("pixels_type", ""), "float");
    TEV::Image image = img.asImage();
    const auto& f = std::get<std::vector<float>>(image.pixels);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0], 1.0f);
    EXPECT_EQ(f[1], 0.5f);
}

TEST(DecodeImages, FloatImagesSurviveTheWholeTripSampleForSample) {
    TEV::Image src(3, 2, 3, 32, 1.0f, 96, 0.5f);
    auto& f = std::get<std::vector<float>>(src.pixels);
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<float>(i) * 0.1f - 0.3f;
    f[4] = 1e30f;

    Dict request;
    request["image"] = Dict(src);
    Dict reply = decode(encode(request));
    TEV::Image back = reply.get("image").asImage();
    ASSERT_EQ(back.bit_depth, 32);
    EXPECT_EQ(back.width, 3);
    EXPECT_EQ(back.rowbytes, 96);
    EXPECT_EQ(back.downsample, 0.5f);
    EXPECT_EQ(std::get<std::vector<float>>(back.pixels), f);
}

TEST(DecodeImages, FloatBytesKeepWholeFloatsOnly) {
    Dict d;
    d["TEV_Dict_Type"] = "Image";
    d["bit_depth"] = 32;
    std::vector<char> raw(9);
    float one = 1.0f, two = 2.0f;
    std::memcpy(raw.data(), &one, 4);
    std::memcpy(raw.data() + 4, &two, 4);
    d["pixels"] = Dict(raw);
    TEV::Image image = decode(encode(d)).asImage();
    EXPECT_EQ(std::get<std::vector<float>>(image.pixels), (std::vector<float>{1.0f, 2.0f}));
}

TEST(DecodeBounds, TrailingBytesAreIgnored) {
    EXPECT_EQ(std::get<long long>(decode(bytes({0x05, 0xc1, 0xff})).value), 5);
}

TEST(DecodeBounds, EmptyAndTruncatedBodiesFail) {
    EXPECT_STREQ(TEV::Test::thrownBy<std::runtime_error>([] { decode(""); }).what(), "insufficient bytes");
    EXPECT_ANY_THROW(decode(bytes({0x92, 0x01})));
    EXPECT_ANY_THROW(decode(bytes({0xc1})));  // reserved type byte
}

TEST(DecodeBounds, HugeDeclaredSizesFailBeforeAllocating) {
    // Headers that claim billions of elements or bytes in a body of five
    // are refused by the size limits, not by a failed giant allocation.
    EXPECT_THROW(decode(bytes({0xdd, 0xff, 0xff, 0xff, 0xff})), msgpack::array_size_overflow);
    EXPECT_THROW(decode(bytes({0xdf, 0xff, 0xff, 0xff, 0xff})), msgpack::map_size_overflow);
    // Strings, bins and exts are read only once their whole payload is there.
    EXPECT_THROW(decode(bytes({0xdb, 0xff, 0xff, 0xff, 0xff})), msgpack::unpack_error);
    EXPECT_THROW(decode(bytes({0xc6, 0xff, 0xff, 0xff, 0xff})), msgpack::unpack_error);
    EXPECT_THROW(decode(bytes({0xc9, 0xff, 0xff, 0xff, 0xff, 0x01})), msgpack::unpack_error);
    // An array may declare no more elements than the body has bytes.
    EXPECT_THROW(decode(bytes({0x9f, 0x01})), msgpack::array_size_overflow);
}

TEST(DecodeBounds, NestingIsBoundedAndTheDeepestAcceptedTreeIsUsable) {
    auto nested = [](std::size_t levels) {
        std::string s(levels, static_cast<char>(0x91));  // [[[...]]]
        s.push_back(0x01);
        return s;
    };
    Dict deepest = decode(nested(TEV::kMaxDecodeDepth));
    Dict copy = deepest;  // copying and freeing the deepest accepted tree is safe
    EXPECT_EQ(encode(copy), nested(TEV::kMaxDecodeDepth));
    EXPECT_THROW(decode(nested(TEV::kMaxDecodeDepth + 1)), msgpack::depth_size_overflow);
    EXPECT_THROW(decode(nested(100000)), msgpack::depth_size_overflow);

    // The converter enforces the same bound on objects from elsewhere.
    std::string deep = nested(TEV::kMaxDecodeDepth + 1);
    msgpack::object_handle oh = msgpack::unpack(deep.data(), deep.size());
    EXPECT_EQ(TEV::Test::thrownBy([&] { TEV::msgpack_to_dict(oh.get()); }).type, TEV::ErrorDecodingMessage);
}
