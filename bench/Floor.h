// The floor of a frame's round trip: what any bridge must at least do with
// the same bytes on the same server, written as plainly as possible.
//
// One round: memcpy the frame's samples into the encoded request (as a
// bridge copies the host's buffer), one libcurl POST of the request with the
// same transport settings as the client (2 MiB upload buffer, TCP_NODELAY,
// no "Expect: 100-continue"), the reply appended into a fresh std::string,
// msgpack::unpack of the reply with its defaults (strings and bins copied
// into the zone), and memcpy of the result's pixel bytes into the output
// buffer. The curl handle and its connection are kept between rounds.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <string>
#include <vector>

namespace TEV::Bench {

class Floor {
public:
    // `request` is the encoded call; its pixel block is `pixel_bytes` long at
    // `pixel_offset`. Throws std::runtime_error when libcurl can't start.
    Floor(int port, std::vector<char> request, std::size_t pixel_offset, std::size_t pixel_bytes);
    ~Floor();
    Floor(const Floor&) = delete;
    Floor& operator=(const Floor&) = delete;

    struct Times {
        double wall;  // seconds the round took
        double cpu;   // seconds of this process's CPU time (all threads) meanwhile
    };
    // One round trip from `frame` (pixel_bytes) to `out` (pixel_bytes).
    // Throws std::runtime_error when the transfer fails or the reply holds no
    // image of the right size.
    Times round(const char* frame, char* out);

private:
    CURL* curl_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::string url_;
    std::vector<char> request_;
    std::size_t pixel_offset_;
    std::size_t pixel_bytes_;
};

}  // namespace TEV::Bench
