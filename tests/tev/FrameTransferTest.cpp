// Frames on the wire without copies: messages encoded with referenced byte
// blocks must be byte for byte the plain encoding, bodies received piecemeal
// with their large bins set apart must decode (or fail) exactly like the
// whole body, and asImage into a reused store must equal asImage().
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "TEV.h"

using TEV::ByteSpan;
using TEV::Dict;
using TEV::Image;

namespace {

std::string encode(const Dict& d) {
    msgpack::sbuffer buf = TEV::encode_message(d);
    return std::string(buf.data(), buf.size());
}

// The whole message read back through copy() in pieces of `chunk` bytes.
std::string readAll(const TEV::EncodedMessage& m, std::size_t chunk) {
    std::string out;
    std::string piece(chunk, '\0');
    for (std::size_t n; (n = m.copy(out.size(), &piece[0], chunk)) > 0;) out.append(piece.data(), n);
    return out;
}

Image filledImage(unsigned short w, unsigned short h, unsigned short channels, unsigned short depth) {
    Image image(w, h, channels, depth, 1.5f, static_cast<unsigned short>(w * 16), 0.5f);
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels))
        for (std::size_t i = 0; i < f->size(); ++i) (*f)[i] = static_cast<float>(i) * 0.25f - 3.0f;
    else
        for (std::size_t i = 0; i < std::get<0>(image.pixels).size(); ++i)
            std::get<0>(image.pixels)[i] = static_cast<unsigned char>(i * 7);
    return image;
}

// The outcome of decoding: the re-encoded tree, or the exception's text.
std::string outcome(const std::function<TEV::MessageDict()>& decode) {
    try {
        return "tree:" + encode(decode());
    } catch (const std::exception& e) {
        return std::string("std::exception:") + e.what();
    } catch (const TEV::TEVErr& e) {
        return "TEVErr:" + e.message();
    }
}

// Feeds `body` to a ReceivedMessage in pieces of `chunk` bytes.
std::string receivedOutcome(const std::string& body, std::size_t keep_from, std::size_t chunk, bool announce) {
    TEV::ReceivedMessage received(keep_from);
    if (announce) received.expect(body.size());
    for (std::size_t at = 0; at < body.size(); at += chunk)
        received.append(body.data() + at, std::min(chunk, body.size() - at));
    EXPECT_EQ(received.size(), body.size());
    return outcome([&] { return received.decode(); });
}

std::string plainOutcome(const std::string& body) {
    return outcome([&] { return TEV::decode_message(body.data(), body.size()); });
}

Dict imageReply(const Image& image) {
    Dict reply;
    reply["result"]["result"]["image"] = Dict(image);
    reply["result"]["note"] = "done";
    return reply;
}

}  // namespace

TEST(ReferencedEncoding, ImageSentByReferenceIsTheSameBytesAsTheImageDictionary) {
    for (unsigned short depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        const Image image = filledImage(7, 5, 3, depth);
        Dict plain;
        plain["args"]["image"] = Dict(image);
        plain["args"]["params"]["brightness"] = 1.0;
        plain["zz"] = "after";

        Dict by_reference = plain;
        Dict& slot = by_reference["args"]["image"];
        slot = TEV::imageDictWithoutSamples(image);
        const TEV::EncodedMessage m = TEV::encode_referencing(by_reference, {{&slot["pixels"], TEV::sampleBytes(image)}});

        ASSERT_EQ(m.splices.size(), 1u);
        EXPECT_LT(m.head.size(), 300u) << "the samples are not in the head";
        EXPECT_EQ(m.splices[0].bytes.data, TEV::sampleBytes(image).data) << "referenced, not copied";
        const std::string expected = encode(plain);
        EXPECT_EQ(m.size(), expected.size());
        for (std::size_t chunk : {std::size_t(1), std::size_t(3), std::size_t(64), expected.size() + 10})
            EXPECT_EQ(readAll(m, chunk), expected) << "read in pieces of " << chunk;
    }
}

TEST(ReferencedEncoding, SeveralNodesAnywhereAndNoneAtAll) {
    const std::string a(1000, 'a'), b(5, 'b');
    Dict d;
    d["list"].push_back(Dict(1));
    d["list"].push_back(Dict(std::vector<char>{'x'}));  // replaced by `a`
    d["list"].push_back(Dict("tail"));
    d["m"] = Dict(std::vector<char>{});  // replaced by `b`
    Dict expected = d;
    std::get<std::vector<Dict>>(expected["list"].value)[1] = Dict(std::vector<char>(a.begin(), a.end()));
    expected["m"] = Dict(std::vector<char>(b.begin(), b.end()));

    const Dict& second = std::get<std::vector<Dict>>(d.get("list").value)[1];
    const TEV::EncodedMessage m =
        TEV::encode_referencing(d, {{&d.get("m"), ByteSpan{b.data(), b.size()}}, {&second, ByteSpan{a.data(), a.size()}}});
    ASSERT_EQ(m.splices.size(), 2u);
    EXPECT_LT(m.splices[0].at, m.splices[1].at);
    EXPECT_EQ(readAll(m, 7), encode(expected));

    const TEV::EncodedMessage none = TEV::encode_referencing(d, {});
    EXPECT_TRUE(none.splices.empty());
    EXPECT_EQ(std::string(none.head.data(), none.head.size()), encode(d));
    EXPECT_EQ(none.copy(none.size(), nullptr, 10), 0u) << "nothing past the end";
}

TEST(ReceivedMessageTest, DecodesLikeTheWholeBodyHoweverItArrives) {
    std::vector<std::pair<std::string, std::string>> bodies;
    for (unsigned short depth : {8, 16, 32})
        bodies.emplace_back("image reply " + std::to_string(depth), encode(imageReply(filledImage(40, 30, 3, depth))));
    {
        Dict d;  // several large bins, in arrays and maps, beside small ones
        d["a"].push_back(Dict(std::vector<char>(5000, 'p')));
        d["a"].push_back(Dict(std::vector<char>(3, 'q')));
        d["a"].push_back(Dict(std::vector<char>(70000, 'r')));
        d["b"]["c"] = Dict(std::vector<char>(4096, 's'));
        d["s"] = std::string(9000, 't');
        bodies.emplace_back("mixed bins", encode(d));
    }
    {
        std::string bin_key;  // a map whose only key is a large bin: the pair is dropped
        bin_key.push_back(static_cast<char>(0x81));
        bin_key += encode(Dict(std::vector<char>(5000, 'k')));
        bin_key += encode(Dict(1));
        bodies.emplace_back("bin as key", bin_key);
    }
    const std::string reply = bodies[2].second;  // 32-bit: its pixels are kept apart
    bodies.emplace_back("trailing bytes", reply + encode(Dict(std::vector<char>(5000, 'z'))) + "\xc1");
    bodies.emplace_back("cut inside the pixels", reply.substr(0, reply.size() / 2));
    bodies.emplace_back("cut after the pixels", reply.substr(0, reply.size() - 3));
    bodies.emplace_back("cut inside a header", reply.substr(0, 2));
    bodies.emplace_back("empty", "");
    bodies.emplace_back("reserved byte after a large bin",
                        std::string("\x92", 1) + encode(Dict(std::vector<char>(5000, 'g'))) + "\xc1");
    bodies.emplace_back("huge declared array", std::string("\xdd\xff\xff\xff\xff\x01", 6));
    {
        std::string deep;  // deeper than the decoder accepts, with a large bin at the bottom
        for (int i = 0; i < 200; ++i) deep.push_back(static_cast<char>(0x91));
        bodies.emplace_back("deep", deep + encode(Dict(std::vector<char>(5000, 'd'))));
    }

    for (const auto& [name, body] : bodies) {
        SCOPED_TRACE(name);
        const std::string expected = plainOutcome(body);
        for (std::size_t chunk : {std::size_t(1), std::size_t(5), std::size_t(4093), body.size() + 1})
            for (bool announce : {false, true})
                EXPECT_EQ(receivedOutcome(body, 4096, chunk, announce), expected)
                    << "pieces of " << chunk << (announce ? ", length announced" : "");
    }
}

TEST(ReceivedMessageTest, ClearStartsOverAndSmallBinsStayInTheBody) {
    const std::string first = encode(imageReply(filledImage(8, 8, 3, 16)));
    const std::string second = encode(imageReply(filledImage(9, 4, 4, 8)));
    TEV::ReceivedMessage received(16);
    received.append(first.data(), first.size() / 3);  // an attempt that broke off
    received.clear();
    EXPECT_EQ(received.size(), 0u);
    received.append(second.data(), second.size());
    EXPECT_EQ(outcome([&] { return received.decode(); }), plainOutcome(second));

    TEV::ReceivedMessage large_threshold;  // the default keeps nothing of a small reply
    large_threshold.append(second.data(), second.size());
    EXPECT_EQ(outcome([&] { return large_threshold.decode(); }), plainOutcome(second));
}

TEST(AsImageIntoStorage, SameResultAsAsImageWhateverTheStorageHeld) {
    std::vector<Dict> dicts;
    for (unsigned short depth : {8, 16, 32}) dicts.push_back(Dict(filledImage(6, 4, 3, depth)));
    Dict float_array = Dict(filledImage(2, 1, 3, 32));
    float_array["pixels"] = Dict(std::vector<Dict>{Dict(1), Dict("skip"), Dict(2.5)});
    dicts.push_back(float_array);
    dicts.push_back(Dict("not an image"));

    for (const Dict& d : dicts) {
        const std::string expected = encode(Dict(d.asImage()));
        for (unsigned short storage_depth : {8, 16, 32}) {
            for (unsigned short w : {1, 6, 12}) {
                Image storage = filledImage(w, 4, 3, storage_depth);
                const Image result = d.asImage(std::move(storage));
                const Image plain = d.asImage();
                EXPECT_EQ(encode(Dict(result)), expected);
                EXPECT_EQ(result.pixels.index(), plain.pixels.index());
                EXPECT_EQ(result.sampleCount(), plain.sampleCount());
            }
        }
    }
}

TEST(AsImageIntoStorage, ReusesTheStoreOfAFrameOfTheSameSize) {
    for (unsigned short depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        const Image sent = filledImage(16, 9, 3, depth);
        const Dict reply = TEV::decode_message(encode(Dict(sent)).data(), encode(Dict(sent)).size());
        Image frame(16, 9, 3, depth, 1.0f, 0, 1.0f);
        const char* store = TEV::sampleBytes(frame).data;
        const Image result = reply.asImage(std::move(frame));
        EXPECT_EQ(TEV::sampleBytes(result).data, store) << "no new buffer";
        EXPECT_EQ(encode(Dict(result)), encode(Dict(sent)));
    }
}

TEST(ReceivedMessageTest, OfferedBuffersTakeTheBinsThatFitAndTheRestComeBack) {
    const std::string body = encode(imageReply(filledImage(64, 32, 3, 32)));  // 24 KiB of pixels
    std::vector<char> small(1000, 'x'), large(1 << 16, 'y');  // stale bytes must not show
    const char* small_data = small.data();

    TEV::ReceivedMessage received(4096);
    received.provide(std::move(small));
    received.provide(std::move(large));
    received.append(body.data(), body.size() / 2);
    received.clear();  // an attempt that broke off: its bin's buffer stays on offer
    for (std::size_t at = 0; at < body.size(); at += 333)
        received.append(body.data() + at, std::min<std::size_t>(333, body.size() - at));
    const TEV::MessageDict reply = received.decode();
    EXPECT_EQ(encode(reply), encode(TEV::decode_message(body.data(), body.size())));

    const Dict& pixels = reply.path("result.result.image").get("pixels");
    ASSERT_EQ(pixels.type, Dict::Bytes);
    // A buffer of its own would have been reserved to the pixels' exact size.
    EXPECT_EQ(std::get<std::vector<char>>(pixels.value).capacity(), std::size_t(1) << 16)
        << "the pixels went into the offered buffer";
    const std::vector<char> left = received.takeSpare();
    EXPECT_EQ(left.data(), small_data) << "the buffer no bin took comes back";
    EXPECT_TRUE(received.takeSpare().empty());
}
