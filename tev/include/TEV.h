// TEV message library: the values exchanged with the local processing server.
//
//   Dict         tagged value tree (null, bool, int, float, string, bytes, array, map)
//   MessageDict  a Dict decoded from a server reply, with error()
//   Image        a frame: geometry plus one packed block of byte or float samples
//   TEVErr       the library's one exception type (code, detail, context)
//   encoding     Dict::pack writes MessagePack; msgpack_to_dict / decode_message read it
//   utilities    generate_uuid, normalize_string, version check
//
// Conventions: queries never throw (they fall back to a default or to a shared
// Null); writes coerce the receiver to the kind they need; every failure of the
// library is thrown as TEV::TEVErr by value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <msgpack.hpp>

namespace TEV {

class Image;

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

// Error codes; TEVErr_StringMap holds their fixed display texts.
enum TEVErrType : std::int32_t {
    UnknownError = 1,
    CouldNotCreateConnection = 2,
    ErrorClosingConnection = 3,
    ConnectionFailed = 4,
    MessageNotArray = 5,
    ErrorDecodingMessage = 6,
    ParametersNotReceived = 7,
    ParameterNotFound = 8,
    UncorrectedValue = 9,
    UriNotSet = 10,
    FailedToLoadImage = 11,
    ErrorDecodingBase64Image = 12,
    TimeoutExceeded = 13,
    ExceptionInPlugin = 14,
    InstallationError = 15,
    VersionMismatch = 16,
};

// Code -> text ("Connection failed", ...). Filled during static
// initialisation, read-only afterwards; has no entry for 0 or codes above 16.
extern const std::map<TEVErrType, std::string> TEVErr_StringMap;

// The library's exception. A plain class (not a std::exception): catch it
// by reference to TEV::TEVErr, separately from std::exception.
class TEVErr {
public:
    TEVErrType type;      // class of failure
    std::string detail;   // what went wrong in this instance
    std::string context;  // where it went wrong; often empty

    TEVErr(const TEVErrType& type, const std::string& detail, const std::string& context);

    // "<code text>: <detail>" followed by ". <context>" when context is not
    // empty. An unknown code reads "TEV Unknown error". Never throws.
    std::string message() const;
};

// ---------------------------------------------------------------------------
// Value tree
// ---------------------------------------------------------------------------

class Dict {
public:
    // The kind's number is the index of its alternative in `value`.
    enum Kind : std::int32_t { Null = 0, Bool, Int, Float, String, Bytes, Array, Map };

    using Value = std::variant<std::nullptr_t,                // Null
                               bool,                          // Bool
                               long long,                     // Int
                               double,                        // Float
                               std::string,                   // String (bytes, not validated)
                               std::vector<char>,             // Bytes
                               std::vector<Dict>,             // Array
                               std::map<std::string, Dict>>;  // Map (byte-wise key order)

    Kind type = Null;
    Value value;

    Dict() noexcept;
    Dict(bool v);
    Dict(int v);
    Dict(unsigned int v);
    Dict(long v);
    Dict(unsigned long v);
    Dict(long long v);
    Dict(unsigned long long v);  // kept as its 64 bits (values above INT64_MAX read negative)
    Dict(float v);
    Dict(double v);
    Dict(const char* v);
    Dict(const std::string& v);
    Dict(std::string&& v);
    Dict(const std::vector<char>& v);
    Dict(std::vector<char>&& v);
    Dict(const std::vector<Dict>& v);
    Dict(std::vector<Dict>&& v);
    Dict(const std::map<std::string, Dict>& v);
    Dict(std::map<std::string, Dict>&& v);
    // The canonical image dictionary of `image` (pixels as one Bytes entry).
    explicit Dict(const Image& image);

    Dict(const Dict& other);                 // deep copy
    Dict(Dict&& other) noexcept;             // takes the subtree over; `other` becomes Null
    Dict& operator=(const Dict& other);      // deep copy
    Dict& operator=(Dict&& other) noexcept;  // takes the subtree over; `other` becomes Null
    ~Dict();                                 // frees the subtree without recursion

    // Coercing writes.
    // Entry under `key`, inserted as Null when missing; a non-map receiver
    // first becomes an empty Map (its old value is discarded).
    Dict& operator[](const std::string& key);
    // Appends a copy (or the moved item); a non-array receiver first becomes
    // an empty Array (its old value is discarded).
    void push_back(const Dict& item);
    void push_back(Dict&& item);

    // Defaulting queries: never throw, never insert.
    // The entry, or a shared immutable Null when the receiver is no Map or lacks `key`.
    const Dict& get(const std::string& key) const;
    // The entry's value if it is an Int; otherwise `def` (a Float is not converted).
    long long getInt(const std::string& key, long long def) const;
    // The entry's value if Float, converted if Int; otherwise `def`.
    double getFloat(const std::string& key, double def) const;
    // A copy of the entry if it is a String; otherwise a copy of `def`.
    std::string getString(const std::string& key, const std::string& def) const;
    // True only for a Map receiver holding `key` (a Null entry included).
    bool contains(const std::string& key) const;
    // Walks a dotted path of map keys ("result.image"); Null on any miss or
    // non-map step; the receiver itself for the empty path.
    const Dict& path(const std::string& path) const;

    // Image dictionaries.
    // True for a Map holding "width", "height", "channels", "bit_depth" and
    // "pixels" (of any kinds); "TEV_Dict_Type" plays no part.
    bool isImage() const;
    // The image record of an image dictionary; a default Image otherwise.
    // Missing or mistyped entries give the field's default; never throws for
    // malformed input. The sample count is not checked against the geometry.
    Image asImage() const;
    // asImage() with the samples written into the store of `storage`, whose
    // memory is reused when it has the kind needed (no new frame buffer);
    // the result is the same as asImage()'s whatever `storage` held.
    Image asImage(Image&& storage) const;

    // Appends the MessagePack encoding of the whole subtree: integers in their
    // shortest form, Float always as float 64, map entries in ascending key
    // order. A String, Bytes, Array or Map of 2^32 or more bytes or elements
    // has no MessagePack header: msgpack::container_size_overflow is thrown
    // (before anything of that value is written).
    void pack(msgpack::packer<msgpack::sbuffer>& packer) const;

private:
    // Replaces kind and value; the old subtree is freed without recursion.
    void reset(Kind kind, Value&& v) noexcept;
};

// A Dict decoded from a server reply.
class MessageDict : public Dict {
public:
    using Dict::Dict;
    MessageDict() = default;
    MessageDict(const Dict& d) : Dict(d) {}
    MessageDict(Dict&& d) noexcept : Dict(std::move(d)) {}

    // The reply's "error" String, or "" when there is none (no entry, an
    // entry of another kind, or a non-map reply). "" means: no error.
    std::string error() const;
};

// ---------------------------------------------------------------------------
// Image record
// ---------------------------------------------------------------------------

// Samples are pixel-interleaved and row-major without gaps: pixel (x, y)
// starts at sample (y * width + x) * channels, in the order R, G, B (, A).
// bit_depth 32 uses the float store; 16 the byte store with one native-order
// uint16 per sample (two bytes); any other depth one byte per sample.
class Image {
public:
    std::variant<std::vector<unsigned char>, std::vector<float>> pixels;
    unsigned short width = 0;
    unsigned short height = 0;
    unsigned short channels = 0;
    unsigned short bit_depth = 0;
    float pix_aspect_ratio = 1.0f;
    unsigned short rowbytes = 0;  // stride of the host buffer; information only
    float downsample = 1.0f;

    // 0x0 image with an empty byte store.
    Image() = default;
    // Zero-filled store for width * height * channels samples of the kind
    // that bit_depth selects.
    Image(unsigned short width, unsigned short height, unsigned short channels,
          unsigned short bit_depth, float pix_aspect_ratio, unsigned short rowbytes,
          float downsample);

    // Number of samples the store holds (16-bit samples count once).
    std::size_t sampleCount() const;
};

// ---------------------------------------------------------------------------
// Wire encoding
// ---------------------------------------------------------------------------

// Maximum nesting of arrays and maps accepted from the wire. Deeper replies
// fail to decode instead of exhausting the stack.
constexpr std::size_t kMaxDecodeDepth = 128;

// Converts one decoded MessagePack object into a Dict. nil, float 32, ext,
// empty arrays and maps without str keys become Null; image dictionaries are
// rebuilt into their canonical form. Throws TEVErr(ErrorDecodingMessage) for
// nesting deeper than kMaxDecodeDepth.
Dict msgpack_to_dict(const msgpack::object& obj);

// Limits for msgpack::unpack derived from the body's size: no container can
// declare more elements than the body has bytes, no string, bin or ext is
// longer than the body, nesting stops at kMaxDecodeDepth.
msgpack::unpack_limit unpack_limits_for(std::size_t body_size);

// Decodes the first MessagePack object of `data` (trailing bytes are ignored)
// under unpack_limits_for(size) into a Dict. Malformed, truncated or
// over-limit input throws msgpack's exceptions (std::exception) or TEVErr.
MessageDict decode_message(const char* data, std::size_t size);

// Encodes a whole tree into a fresh buffer.
msgpack::sbuffer encode_message(const Dict& dict, std::size_t initial_size = 8192);

// ---------------------------------------------------------------------------
// Frames on the wire without copies
// ---------------------------------------------------------------------------

// Bytes that stay where they lie (not owned).
struct ByteSpan {
    const char* data = nullptr;
    std::size_t size = 0;
};

// The bytes of the image's store, as Dict(image) would hold them under "pixels".
ByteSpan sampleBytes(const Image& image);
// Dict(image) with an empty "pixels" entry, for sending the samples by
// reference (encode_referencing).
Dict imageDictWithoutSamples(const Image& image);

// A message encoded with some byte blocks referenced instead of copied:
// `head` holds the encoding with each block left out, and block k belongs at
// offset splices[k].at of `head` (offsets ascending).
class EncodedMessage {
public:
    struct Splice {
        std::size_t at;
        ByteSpan bytes;
    };
    msgpack::sbuffer head;
    std::vector<Splice> splices;

    explicit EncodedMessage(std::size_t initial_size = 8192) : head(initial_size) {}
    // Bytes of the whole message.
    std::size_t size() const;
    // Copies up to `n` bytes of the message, from `offset` on, to `out`;
    // returns how many (0 at the end).
    std::size_t copy(std::size_t offset, char* out, std::size_t n) const;
};

// Encodes `dict` as encode_message does, except that every node listed in
// `referenced` is written as one bin of the bytes it is paired with, which
// are not copied (the node's own value is not read). The bytes must stay
// unchanged while the result is in use. Throws as Dict::pack.
EncodedMessage encode_referencing(const Dict& dict,
                                  const std::vector<std::pair<const Dict*, ByteSpan>>& referenced,
                                  std::size_t initial_size = 8192);

// A MessagePack body collected as it arrives: every bin of at least
// `keep_from` bytes (and at least 8) goes into a buffer of its own, which
// decode() moves into the tree instead of copying it out of the body.
class ReceivedMessage {
public:
    explicit ReceivedMessage(std::size_t keep_from = 64 * 1024);
    ReceivedMessage(const ReceivedMessage&) = delete;
    ReceivedMessage& operator=(const ReceivedMessage&) = delete;
    ~ReceivedMessage();

    // Forgets everything received (for a new attempt); buffers offered with
    // provide(), and those of bins already set apart, stay on offer.
    void clear();
    // Offers a buffer for a bin set apart later: a bin that fits its capacity
    // goes there instead of into freshly allocated memory.
    void provide(std::vector<char>&& spare);
    // The largest offered buffer that no bin took (empty when none is left).
    std::vector<char> takeSpare();
    // How many more bytes the body announces (its remaining length), when
    // known: a kept bin then reserves its bytes at once instead of growing.
    void expect(std::size_t remaining);
    // The next bytes of the body. Throws std::bad_alloc.
    void append(const char* data, std::size_t size);
    // Bytes appended since construction or clear().
    std::size_t size() const;
    // The same Dict, and the same exceptions, as decode_message of the whole
    // body; the kept bins are moved into the tree, so call it once.
    MessageDict decode();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// ---------------------------------------------------------------------------
// Utilities
// ---------------------------------------------------------------------------

// Random identifier in the version-4 UUID layout:
// xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx (lower-case hex, y in 8..b).
std::string generate_uuid();

// The input with every white-space byte removed and every other byte lowered.
std::string normalize_string(const std::string& s);

// The library's version text, "2".
const char* getImplementationVersion();

// True when `version` equals getImplementationVersion() exactly; throws
// TEVErr(VersionMismatch) otherwise.
bool checkVersionCompatibility(const char* version);

}  // namespace TEV
