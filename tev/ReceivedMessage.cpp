// ReceivedMessage: a reply body collected as it arrives, with its large bins
// set apart so that decoding moves them into the tree.
//
// The body's headers are followed as the bytes come in: each header uses up
// one pending object of the first (top-level) object and adds its children.
// A bin of at least keep_from bytes goes into a buffer of its own; in its
// place the head gets a stand-in bin of 8 zero bytes, found again at decoding
// by where its payload lies. Once the first object is complete, or when a
// byte can't be followed (0xc1), the rest is appended as it is. A body whose
// first object never completes is put back together and decoded as it came,
// so that the decoder reports it exactly as it would the plain body.
#include <algorithm>
#include <cstring>
#include <limits>

#include "KeptBins.h"
#include "TEV.h"

namespace TEV {

namespace {

// Bytes of the header that starts with `b`, type byte included; 0 for the
// reserved byte.
std::size_t headerLength(unsigned char b) {
    switch (b) {
        case 0xc1: return 0;
        case 0xc4: case 0xc7: case 0xd9: return 2;
        case 0xc5: case 0xc8: case 0xda: case 0xdc: case 0xde: return 3;
        case 0xc6: case 0xc9: case 0xdb: case 0xdd: case 0xdf: return 5;
        default: return 1;
    }
}

std::uint64_t bigEndian(const unsigned char* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// Payload bytes and child objects of a complete header.
void readHeader(const unsigned char* h, std::size_t length, std::uint64_t& payload, std::uint64_t& children) {
    const unsigned char b = h[0];
    payload = 0;
    children = 0;
    const std::uint64_t n = length > 1 ? bigEndian(h + 1, length - 1) : 0;
    if (b <= 0x7f || b >= 0xe0) return;
    if (b <= 0x8f) { children = 2u * (b & 0x0f); return; }
    if (b <= 0x9f) { children = b & 0x0f; return; }
    if (b <= 0xbf) { payload = b & 0x1f; return; }
    switch (b) {
        case 0xc4: case 0xc5: case 0xc6: case 0xd9: case 0xda: case 0xdb: payload = n; return;
        case 0xc7: case 0xc8: case 0xc9: payload = n + 1; return;  // ext: a type byte more
        case 0xca: case 0xce: case 0xd2: payload = 4; return;
        case 0xcb: case 0xcf: case 0xd3: payload = 8; return;
        case 0xcc: case 0xd0: payload = 1; return;
        case 0xcd: case 0xd1: payload = 2; return;
        case 0xd4: payload = 2; return;  // fixext: type byte and data
        case 0xd5: payload = 3; return;
        case 0xd6: payload = 5; return;
        case 0xd7: payload = 9; return;
        case 0xd8: payload = 17; return;
        case 0xdc: case 0xdd: children = n; return;
        case 0xde: case 0xdf: children = 2 * n; return;
        default: return;  // nil, false, true
    }
}

bool isBin(unsigned char b) { return b == 0xc4 || b == 0xc5 || b == 0xc6; }

constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();
// Without an announced length a kept bin reserves at most this much at once.
constexpr std::size_t kBlindReserve = std::size_t(64) << 20;
// More pending objects than any body could hold: stop following it.
constexpr std::uint64_t kMaxPending = std::uint64_t(1) << 60;
// The stand-in bin: bin 8 of 8 bytes.
constexpr char kStandInHeader[] = {static_cast<char>(0xc4), 8};
constexpr std::size_t kStandInPayload = 8;

}  // namespace

struct ReceivedMessage::State {
    std::size_t keep_from;
    std::string head;
    std::vector<detail::KeptBin> kept;
    std::vector<std::string> kept_headers;  // each kept bin's own header, for putting the body back
    std::vector<std::vector<char>> spares;  // buffers offered for kept bins
    std::size_t received = 0;
    std::size_t remaining = kUnknown;  // announced bytes still to come

    bool following = true;  // false: append as it comes
    bool complete = false;  // the first object has ended
    std::uint64_t pending = 1;
    unsigned char header[9];
    std::size_t header_have = 0;
    std::size_t header_need = 0;
    std::uint64_t payload_left = 0;
    bool filling_kept = false;  // the payload in progress goes to kept.back()

    explicit State(std::size_t keep) : keep_from(keep) {}

    void endOfObjectCheck() {
        if (pending == 0 && payload_left == 0) {
            complete = true;
            following = false;
        }
    }

    // A complete header: where its bytes and its payload go.
    void takeHeader() {
        std::uint64_t payload, children;
        readHeader(header, header_need, payload, children);
        header_have = 0;
        if (children > kMaxPending - pending) {
            following = false;  // the decoder refuses such counts anyway
            head.append(reinterpret_cast<const char*>(header), header_need);
            return;
        }
        pending = pending - 1 + children;
        // A bin shorter than its stand-in stays in the head: the stand-in
        // would make the head longer than the body, whose size sets the limits.
        if (isBin(header[0]) && payload >= keep_from && payload >= kStandInPayload) {
            head.append(kStandInHeader, sizeof kStandInHeader);
            detail::KeptBin bin;
            bin.at = head.size();
            head.append(kStandInPayload, '\0');
            const std::size_t reserve = static_cast<std::size_t>(
                std::min<std::uint64_t>(payload, remaining == kUnknown ? kBlindReserve : remaining));
            bin.bytes = takeSpareFor(reserve);
            bin.bytes.reserve(reserve);
            kept.push_back(std::move(bin));
            kept_headers.emplace_back(reinterpret_cast<const char*>(header), header_need);
            filling_kept = true;
        } else {
            head.append(reinterpret_cast<const char*>(header), header_need);
            filling_kept = false;
        }
        payload_left = payload;
        endOfObjectCheck();
    }

    // The smallest offered buffer that holds `n` bytes, emptied; an empty one when none does.
    std::vector<char> takeSpareFor(std::size_t n) {
        auto best = spares.end();
        for (auto it = spares.begin(); it != spares.end(); ++it)
            if (it->capacity() >= n && (best == spares.end() || it->capacity() < best->capacity())) best = it;
        if (best == spares.end()) return {};
        std::vector<char> spare = std::move(*best);
        spares.erase(best);
        spare.clear();
        return spare;
    }

    void consumed(std::size_t k) {
        if (remaining != kUnknown) remaining -= std::min(k, remaining);
    }

    void append(const char* data, std::size_t n) {
        while (n > 0) {
            if (!following) {
                head.append(data, n);
                consumed(n);
                return;
            }
            if (payload_left > 0) {
                const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, payload_left));
                if (filling_kept)
                    kept.back().bytes.insert(kept.back().bytes.end(), data, data + k);
                else
                    head.append(data, k);
                data += k;
                n -= k;
                consumed(k);
                payload_left -= k;
                if (payload_left == 0) endOfObjectCheck();
                continue;
            }
            if (header_have == 0) {
                header_need = headerLength(static_cast<unsigned char>(*data));
                if (header_need == 0) {
                    following = false;  // the decoder reports the reserved byte
                    continue;
                }
            }
            const std::size_t k = std::min(n, header_need - header_have);
            std::memcpy(header + header_have, data, k);
            header_have += k;
            data += k;
            n -= k;
            consumed(k);
            if (header_have == header_need) takeHeader();
        }
    }

    // The body exactly as it arrived.
    std::string original() const {
        std::string body;
        std::size_t from = 0;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            const std::size_t stand_in = kept[i].at - sizeof kStandInHeader;
            body.append(head, from, stand_in - from);
            body.append(kept_headers[i]);
            body.append(kept[i].bytes.data(), kept[i].bytes.size());
            from = kept[i].at + kStandInPayload;
        }
        body.append(head, from, std::string::npos);
        return body;
    }
};

ReceivedMessage::ReceivedMessage(std::size_t keep_from) : state_(std::make_unique<State>(keep_from)) {}

ReceivedMessage::~ReceivedMessage() = default;

void ReceivedMessage::clear() {
    auto fresh = std::make_unique<State>(state_->keep_from);
    fresh->spares = std::move(state_->spares);
    for (detail::KeptBin& bin : state_->kept) fresh->spares.push_back(std::move(bin.bytes));
    state_ = std::move(fresh);
}

void ReceivedMessage::provide(std::vector<char>&& spare) {
    if (spare.capacity() > 0) state_->spares.push_back(std::move(spare));
}

std::vector<char> ReceivedMessage::takeSpare() {
    auto& spares = state_->spares;
    auto largest = std::max_element(spares.begin(), spares.end(), [](const std::vector<char>& a,
                                                                      const std::vector<char>& b) {
        return a.capacity() < b.capacity();
    });
    if (largest == spares.end()) return {};
    std::vector<char> spare = std::move(*largest);
    spares.erase(largest);
    return spare;
}

void ReceivedMessage::expect(std::size_t remaining) { state_->remaining = remaining; }

void ReceivedMessage::append(const char* data, std::size_t size) {
    state_->received += size;
    state_->append(data, size);
}

std::size_t ReceivedMessage::size() const { return state_->received; }

MessageDict ReceivedMessage::decode() {
    State& s = *state_;
    // A body cut inside a header: its bytes so far belong to the body too,
    // or the decoder would judge a shorter body (and fail differently).
    s.head.append(reinterpret_cast<const char*>(s.header), s.header_have);
    s.header_have = 0;
    if (s.kept.empty()) return decode_message(s.head.data(), s.head.size());
    if (!s.complete) {
        const std::string body = s.original();
        return decode_message(body.data(), body.size());
    }
    return detail::decodeWithKeptBins(s.head.data(), s.head.size(), s.kept, s.received);
}

}  // namespace TEV
