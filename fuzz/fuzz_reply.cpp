// A server reply read the way the plug-in reads it: the body arrives in
// pieces through ReceivedMessage (which sets large bins apart as they come),
// then the render bridge takes its error text and the image at
// "result.image", applies its fit check, and copies the image into a 16x8
// output world through the pixel functions; a failure is drawn onto a frame
// image of the world's size instead, which then goes out the same way.
//
// Input: byte 0: bits 0-1 the world's depth (8, 16 or 32 bits, modulo 3),
// bits 2-3 the capacity of a spare buffer offered for bins set apart (none,
// 16, 4096 or 1 MiB), bit 4 an attempt that broke off after half the body
// first (as the client's retries do); byte 1 how the body arrives: bits 0-1
// the smallest bin set apart (0, 1, 9 or 65536 bytes), bits 2-6 the piece
// size less one, bit 7 whether the body's length is announced first. The
// rest is the body.
//
// Beyond memory safety it checks that ReceivedMessage decodes every body as
// decode_message does (the same tree, or the same exception), that asImage
// into a reused store gives what asImage gives, that a reply the fit check
// accepts is copied without a storage refusal and sample for sample, that a
// rejected one is still never read beyond its storage, and that the bridge's
// own frame image always passes the check.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "FuzzCheck.h"
#include "PixelConversion.h"
#include "ResultFit.h"
#include "TEV.h"
#include "TEV_Image.h"
#include "UserTexts.h"

namespace {

constexpr A_long kWidth = 16;
constexpr A_long kHeight = 8;

template <class Pixel>
using PixelFunction = PF_Err (*)(void*, A_long, A_long, Pixel*, Pixel*);

// Runs `fn` over every pixel of a fresh world, as the host's iterate suite
// would. False when the function refused the image's storage kind.
template <class Pixel>
bool copyIntoWorld(TEV::Image& image, PixelFunction<Pixel> fn, std::vector<Pixel>& world) {
    world.assign(std::size_t(kWidth) * kHeight, Pixel{});
    try {
        for (A_long y = 0; y < kHeight; ++y)
            for (A_long x = 0; x < kWidth; ++x) {
                Pixel* pixel = &world[std::size_t(y) * kWidth + x];
                FUZZ_CHECK(fn(&image, x, y, pixel, pixel) == PF_Err_NONE, "pixel functions return 0");
            }
    } catch (const TEV::Adobe::PixelStorageMismatch&) {
        return false;
    }
    return true;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Copies `image` into a world of `bit_depth`. With `fits` set (the fit check
// passed) the copy must succeed and carry the samples over; otherwise the
// pixel functions may refuse the storage kind but must stay within it.
void copyOut(TEV::Image& image, int bit_depth, bool fits) {
    const bool alpha = image.channels == 4;
    auto sample = [&](A_long x, A_long y, int c) { return (std::size_t(y) * kWidth + x) * image.channels + c; };
    if (bit_depth == 8) {
        std::vector<PF_Pixel> world;
        const bool copied = copyIntoWorld<PF_Pixel>(image, TEV::Adobe::Image2World8, world);
        if (!fits) return;
        FUZZ_CHECK(copied, "an accepted 8-bit result is copied");
        const auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
        for (A_long y = 0; y < kHeight; ++y)
            for (A_long x = 0; x < kWidth; ++x) {
                const PF_Pixel& p = world[std::size_t(y) * kWidth + x];
                FUZZ_CHECK(p.red == bytes[sample(x, y, 0)] && p.blue == bytes[sample(x, y, 2)], "8-bit samples");
                FUZZ_CHECK(p.alpha == (alpha ? bytes[sample(x, y, 3)] : PF_MAX_CHAN8), "8-bit alpha");
            }
    } else if (bit_depth == 16) {
        std::vector<PF_Pixel16> world;
        const bool copied = copyIntoWorld<PF_Pixel16>(image, TEV::Adobe::Image2World16, world);
        FUZZ_CHECK(copied, "16-bit worlds take either storage");
        if (!fits) return;
        const bool float_store = std::holds_alternative<std::vector<float>>(image.pixels);
        for (A_long y = 0; y < kHeight; ++y)
            for (A_long x = 0; x < kWidth; ++x) {
                const PF_Pixel16& p = world[std::size_t(y) * kWidth + x];
                if (float_store) {
                    FUZZ_CHECK(p.red <= PF_MAX_CHAN16 && p.alpha <= PF_MAX_CHAN16, "float samples limited");
                    continue;
                }
                const auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
                A_u_short red, top;
                std::memcpy(&red, &bytes[2 * sample(x, y, 0)], 2);
                std::memcpy(&top, &bytes[2 * sample(x, y, alpha ? 3 : 2)], 2);
                FUZZ_CHECK(p.red == red, "16-bit samples");
                FUZZ_CHECK(alpha ? p.alpha == top : p.alpha == PF_MAX_CHAN16, "16-bit alpha");
            }
    } else {
        std::vector<PF_PixelFloat> world;
        const bool copied = copyIntoWorld<PF_PixelFloat>(image, TEV::Adobe::Image2World32, world);
        if (!fits) return;
        FUZZ_CHECK(copied, "an accepted float result is copied");
        const auto& floats = std::get<std::vector<float>>(image.pixels);
        for (A_long y = 0; y < kHeight; ++y)
            for (A_long x = 0; x < kWidth; ++x) {
                const PF_PixelFloat& p = world[std::size_t(y) * kWidth + x];
                FUZZ_CHECK(sameBits(p.red, floats[sample(x, y, 0)]), "float samples");
                FUZZ_CHECK(sameBits(p.alpha, alpha ? floats[sample(x, y, 3)] : 1.0f), "float alpha");
            }
    }
}

// The bridge's failure path: the input frame with a message on it.
void showMessage(int bit_depth, const std::string& line2) {
    TEV::Image frame(kWidth, kHeight, 3, static_cast<unsigned short>(bit_depth), 1.0f, 0, 1.0f);
    TEV::writeOnImage(frame, UserTexts::kServerError, line2, UserTexts::kViewLogs, true, 1.0f);
    FUZZ_CHECK(resultMismatch(frame, kWidth, kHeight, bit_depth).empty(), "the frame image fits its world");
    copyOut(frame, bit_depth, true);
}

// A decoded reply, or the exception that decoding threw.
struct Decoded {
    std::optional<TEV::MessageDict> reply;
    std::string failure;  // exception type and text
};

template <class Decode>
Decoded decodeWith(Decode decode) {
    Decoded d;
    try {
        d.reply = decode();
    } catch (const msgpack::unpack_error& e) {
        d.failure = std::string(typeid(e).name()) + ": " + e.what();
    } catch (const TEV::TEVErr& e) {
        FUZZ_CHECK(e.type == TEV::ErrorDecodingMessage, "decoding fails with code 6 only");
        d.failure = "TEVErr: " + e.message();
    }
    return d;
}

bool sameEncoding(const TEV::Dict& a, const TEV::Dict& b) {
    const msgpack::sbuffer ea = TEV::encode_message(a, 64), eb = TEV::encode_message(b, 64);
    return ea.size() == eb.size() && std::memcmp(ea.data(), eb.data(), ea.size()) == 0;
}

bool sameImage(const TEV::Image& a, const TEV::Image& b) {
    auto bits = [](float f) {
        std::uint32_t u;
        std::memcpy(&u, &f, sizeof u);
        return u;
    };
    const TEV::ByteSpan sa = TEV::sampleBytes(a), sb = TEV::sampleBytes(b);
    return a.width == b.width && a.height == b.height && a.channels == b.channels &&
           a.bit_depth == b.bit_depth && a.rowbytes == b.rowbytes &&
           bits(a.pix_aspect_ratio) == bits(b.pix_aspect_ratio) && bits(a.downsample) == bits(b.downsample) &&
           a.pixels.index() == b.pixels.index() && sa.size == sb.size &&
           (sa.size == 0 || std::memcmp(sa.data, sb.data, sa.size) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const int kDepths[] = {8, 16, 32};
    static const std::size_t kKeepFrom[] = {0, 1, 9, 65536};
    static const std::size_t kSpare[] = {0, 16, 4096, 1 << 20};
    const int bit_depth = kDepths[(data[0] & 3) % 3];
    const std::size_t spare = kSpare[(data[0] >> 2) & 3];
    const bool broken_attempt = data[0] & 0x10;
    const std::size_t keep_from = kKeepFrom[data[1] & 3];
    const std::size_t piece = 1 + ((data[1] >> 2) & 31);
    const bool announce = data[1] & 0x80;
    const char* body = reinterpret_cast<const char*>(data + 2);
    const std::size_t body_size = size - 2;

    const Decoded whole = decodeWith([&] { return TEV::decode_message(body, body_size); });
    const Decoded received = decodeWith([&] {
        TEV::ReceivedMessage message(keep_from);
        if (spare > 0) {
            std::vector<char> buffer;
            buffer.reserve(spare);
            message.provide(std::move(buffer));
        }
        auto receive = [&](std::size_t size) {
            if (announce) message.expect(size);
            for (std::size_t at = 0; at < size; at += piece)
                message.append(body + at, std::min(piece, size - at));
        };
        if (broken_attempt) {
            receive(body_size / 2);
            message.clear();
            FUZZ_CHECK(message.size() == 0, "clear() forgets what was received");
        }
        receive(body_size);
        FUZZ_CHECK(message.size() == body_size, "every byte received is counted");
        TEV::MessageDict reply = message.decode();
        message.takeSpare();  // whatever no bin took, as the client takes it back
        return reply;
    });
    FUZZ_CHECK(whole.failure == received.failure,
               ("received in pieces, a body fails as it does whole: [" + whole.failure + "] vs [" +
                received.failure + "]").c_str());
    if (!received.reply) return 0;  // the exchange reports the decoding failure
    FUZZ_CHECK(sameEncoding(*whole.reply, *received.reply), "received in pieces, a body decodes as it does whole");
    const TEV::MessageDict& reply = *received.reply;

    const std::string error = reply.error();
    if (reply.type == TEV::Dict::Null || !error.empty()) {
        showMessage(bit_depth, error);
        return 0;
    }
    // The bridge reads the result into the store of its input frame.
    const TEV::Dict& image_dict = reply.path("result.image");
    TEV::Image frame(kWidth, kHeight, 3, static_cast<unsigned short>(bit_depth), 1.0f, 0, 1.0f);
    TEV::Image result = image_dict.asImage(std::move(frame));
    FUZZ_CHECK(sameImage(result, image_dict.asImage()), "asImage into a reused store gives what asImage gives");
    const std::string mismatch = image_dict.isImage() ? resultMismatch(result, kWidth, kHeight, bit_depth)
                                                      : "The result holds no image";
    copyOut(result, bit_depth, mismatch.empty());
    if (!mismatch.empty()) showMessage(bit_depth, mismatch);
    return 0;
}
