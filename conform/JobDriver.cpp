// A job driven message by message.
#include "JobDriver.h"

#include <thread>

#include "Replies.h"

namespace TEV {
namespace Conform {

namespace {
constexpr auto kPollSpacing = std::chrono::milliseconds(10);
}

JobDriver::JobDriver(Rest::Client& client) : client_(client), id_(generate_uuid()) {
    poll_message_["method"] = "get_result";
    poll_message_["for_request_id"] = id_;
}

MessageDict JobDriver::start(Dict call) {
    call["request_id"] = id_;
    return client_.send_and_receive_dict(call);
}

MessageDict JobDriver::poll() { return client_.send_and_receive_dict(poll_message_); }

MessageDict JobDriver::progress() {
    Dict query;
    query["method"] = "get_progress";
    query["for_request_id"] = id_;
    return client_.send_and_receive_dict(query);
}

MessageDict JobDriver::abort() {
    Dict message;
    message["method"] = "abort_request";
    message["request_id"] = id_;
    return client_.send_and_receive_dict(message);
}

MessageDict JobDriver::pollUntilDone(std::chrono::milliseconds limit, int* pending) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const auto cycle = std::chrono::steady_clock::now();
        MessageDict answer = poll();
        if (classifyPoll(answer) != PollAnswer::Pending) return answer;
        if (pending) ++*pending;
        const auto now = std::chrono::steady_clock::now();
        if (now - start > limit) return answer;
        if (now - cycle < kPollSpacing) std::this_thread::sleep_for(kPollSpacing - (now - cycle));
    }
}

}  // namespace Conform
}  // namespace TEV
