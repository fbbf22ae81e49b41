// What libcurl saw of a client's latest HTTP transfer: the facts behind the
// transport checks, which the client itself does not report.
#pragma once

#include <string>

#include "RestClient.h"

namespace TEV {
namespace Conform {

struct TransferFacts {
    long status = 0;             // HTTP status of the latest attempt; 0 when none came
    std::string content_type;    // the reply's Content-Type; "" when none
    long long reply_bytes = 0;   // body bytes received
    long new_connections = 0;    // connections opened by the transfer (0: one was reused)
};

// The facts of `client`'s latest transfer. Call it on the thread that made
// the exchange, after it returned or threw.
TransferFacts lastTransfer(Rest::Client& client);

// "HTTP 200, 27 bytes, application/x-msgpack" and the like.
std::string describe(const TransferFacts& facts);

}  // namespace Conform
}  // namespace TEV
