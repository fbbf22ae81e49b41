// One queued job driven message by message, with the very messages the
// plug-in's client sends, so that a check can judge every single reply.
#pragma once

#include <chrono>
#include <string>

#include "RestClient.h"

namespace TEV {
namespace Conform {

class JobDriver {
public:
    // A job of `client` under a fresh identifier; nothing is sent yet.
    explicit JobDriver(Rest::Client& client);

    const std::string& id() const { return id_; }

    // Sends `call` (its "request_id" set to the job's identifier) and returns
    // the reply.
    MessageDict start(Dict call);
    // Sends the job's one "get_result" message again, as every poll of the
    // plug-in does (one request_id for all polls of a job).
    MessageDict poll();
    // Sends a fresh "get_progress" message for the job.
    MessageDict progress();
    // Sends "abort_request" under the job's own identifier.
    MessageDict abort();

    // Polls every 10 ms, as the plug-in does, until the answer is no longer
    // the pending marker or `limit` has passed; returns the last answer and
    // counts the pending ones in `pending` when given.
    MessageDict pollUntilDone(std::chrono::milliseconds limit, int* pending = nullptr);

private:
    Rest::Client& client_;
    std::string id_;
    Dict poll_message_;
};

}  // namespace Conform
}  // namespace TEV
