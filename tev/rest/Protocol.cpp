// The request protocol on top of single exchanges: immediate results, queued
// jobs polled with progress and abort, one-shot messages, the paced wait.
#include <thread>

#include "Diagnostics.h"
#include "RestClient.h"

namespace TEV {

namespace {

using Clock = std::chrono::steady_clock;

// Progress is not asked for until polling has run this long.
constexpr auto kProgressDelay = std::chrono::nanoseconds(20'999'999);
// Poll cycles start at most this often.
constexpr auto kPollSpacing = std::chrono::milliseconds(10);

const char* const kPendingMarker = "no_result_found";

Dict methodCall(const char* method, std::string function_name, const Dict& args) {
    Dict message;
    message["method"] = method;
    message["method_version"] = 1;
    message["function_name"] = std::move(function_name);
    message["args"] = args;
    return message;
}

// The entry "result" of a map reply, moved out (results carry whole frames);
// Null when there is none.
MessageDict takeResult(MessageDict& reply) {
    if (reply.type != Dict::Map || !reply.contains("result")) return MessageDict();
    return MessageDict(std::move(reply["result"]));
}

}  // namespace

void waitOrTimeout(std::function<bool()> condition, const long& timeout_seconds,
                   const std::function<void()>& tick) {
    const Clock::time_point start = Clock::now();
    for (;;) {
        const Clock::time_point cycle_start = Clock::now();
        if (!condition()) return;
        const Clock::time_point now = Clock::now();
        if (std::chrono::duration_cast<std::chrono::seconds>(now - start).count() > timeout_seconds)
            throw TEVErr(TimeoutExceeded, std::to_string(timeout_seconds) + " seconds", "");
        const auto elapsed = now - cycle_start;
        if (elapsed < kPollSpacing)
            std::this_thread::sleep_for(kPollSpacing - std::chrono::duration_cast<std::chrono::milliseconds>(elapsed));
        if (tick) tick();
    }
}

namespace Rest {

MessageDict Client::call_plugin(std::string function_name, const Dict& args, const std::function<bool()>& abort,
                                const std::function<void(int)>& progress) {
    Dict message = methodCall("call_plugin", std::move(function_name), args);
    return send_and_receive_request(message, abort, progress);
}

MessageDict Client::call_plugin_with_image(std::string function_name, Dict args, const std::string& image_key,
                                           const Image& image, const std::function<bool()>& abort,
                                           const std::function<void(int)>& progress) {
    Dict message = methodCall("call_plugin", std::move(function_name), Dict());
    Dict& sent_args = message["args"];
    sent_args = std::move(args);
    Dict& slot = sent_args[image_key];
    slot = imageDictWithoutSamples(image);
    // Map nodes keep their addresses while the envelope adds entries.
    return runJob(message, {{&slot["pixels"], sampleBytes(image)}}, abort, progress);
}

MessageDict Client::ui(std::string function_name, const Dict& args, bool wait) {
    Dict message = methodCall("ui", std::move(function_name), args);
    if (wait) return send_and_receive_request(message);
    send_and_receive_dict(message);
    return MessageDict();
}

void Client::unloadPlugin() {
    Dict message;
    message["method"] = "unload_plugin";
    send_and_receive_dict(message);
}

void Client::openTEVApp() {
    Dict message;
    message["method"] = "open_tev_app";
    send_and_receive_dict(message);
}

MessageDict Client::send_and_receive_request(Dict& request, const std::function<bool()>& abort,
                                             const std::function<void(int)>& progress) {
    return runJob(request, {}, abort, progress);
}

MessageDict Client::runJob(Dict& request, const References& referenced, const std::function<bool()>& abort,
                           const std::function<void(int)>& progress) {
    std::string job_id;
    if (request.contains("request_id")) {
        job_id = request.getString("request_id", "");
    } else {
        job_id = generate_uuid();
        request["request_id"] = job_id;
    }

    MessageDict reply = exchangeMessage(request, referenced);
    if (!reply.error().empty()) throw TEVErr(ExceptionInPlugin, reply.error(), "While doing the initial call");
    if (reply.contains("result")) return takeResult(reply);
    const Dict& status = reply.get("status");
    if (status.type == Dict::String && std::get<std::string>(status.value) == "queued")
        return pollJob(job_id, abort, progress);
    throw TEVErr(UnknownError, "Failed to send message", "");
}

MessageDict Client::pollJob(const std::string& job_id, const std::function<bool()>& abort,
                            const std::function<void(int)>& progress) {
    // Built once: every result poll of the job carries the same request_id.
    Dict poll;
    poll["method"] = "get_result";
    poll["for_request_id"] = job_id;
    MessageDict latest;
    const Clock::time_point polling_start = Clock::now();

    auto cycle = [&]() -> bool {
        if (progress && Clock::now() - polling_start > kProgressDelay) {
            Dict query;
            query["method"] = "get_progress";
            query["for_request_id"] = job_id;
            const MessageDict answer = send_and_receive_dict(query);
            const Dict& result = answer.get("result");
            if (answer.error().empty() && result.contains("progress"))
                progress(static_cast<int>(result.getInt("progress", 0)));
        }
        if (abort && abort()) {
            detail::say("Abort for request " + job_id);
            Dict message;
            message["method"] = "abort_request";
            message["request_id"] = job_id;
            send_and_receive_dict(message);
            return false;
        }
        latest = send_and_receive_dict(poll);
        const bool finished =
            latest.contains("result") && latest.get("result").getString("result", "") != kPendingMarker;
        if (!latest.error().empty()) throw TEVErr(ExceptionInPlugin, latest.error(), "While getting the result");
        return !finished;
    };
    waitOrTimeout(cycle, render_timeout.load(), {});
    return takeResult(latest);
}

}  // namespace Rest
}  // namespace TEV
