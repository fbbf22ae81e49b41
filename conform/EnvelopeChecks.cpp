// envelope.*: the identity envelope every message carries, and messages the
// server does not know.
#include "Frames.h"
#include "Groups.h"
#include "JobDriver.h"
#include "Replies.h"
#include "Text.h"

namespace TEV {
namespace Conform {

namespace {

// The plug-in's envelope on every message of two jobs: a render polled to
// its end with one poll message (so one request_id on every poll), and a
// render aborted by a message that carries the job's own request_id.
Verdict identity(const Target& target) {
    auto client = target.connect();
    const Image frame = makeFrame(64, 48, 3, 8);
    const auto refused = [](const std::string& what, const Dict& reply) {
        return Verdict::fail(what + " answered an error: " + quoted(errorText(reply)));
    };

    JobDriver polled(*client);
    const MessageDict call = polled.start(renderCall(polled.id(), Dict(frame), target.renderParams()));
    if (!errorText(call).empty()) return refused("the render call", call);
    // A call answered at once leaves no poll, progress query or abort to send.
    if (!isQueued(call)) return Verdict::skip("the render call was not queued (" + brief(call) +
                                              "): no poll, progress query or abort to judge");
    int polls = 0;
    {
        const MessageDict progress = polled.progress();
        if (!errorText(progress).empty()) return refused("get_progress", progress);
        const MessageDict last = polled.pollUntilDone(std::chrono::seconds(target.timeout_seconds), &polls);
        ++polls;
        if (!errorText(last).empty()) return refused("get_result (poll " + std::to_string(polls) + ")", last);
    }

    JobDriver aborted(*client);
    const MessageDict second = aborted.start(renderCall(aborted.id(), Dict(frame), target.renderParams()));
    if (!errorText(second).empty()) return refused("the second render call", second);
    if (!isQueued(second)) return Verdict::skip("the second render call was not queued (" + brief(second) +
                                                "): no abort to judge");
    {
        const MessageDict abort = aborted.abort();
        if (!errorText(abort).empty()) return refused("abort_request under the job's own request_id", abort);
    }

    return Verdict::pass("plugin_id, plugin_version and tev_lib_version accepted on a call, " + std::to_string(polls) +
                         " poll(s) under one request_id and an abort under the job's request_id");
}

Verdict unknownMethod(const Target& target) {
    auto client = target.connect();
    Dict message;
    message["method"] = "tev_conform_no_such_method";
    const MessageDict reply = client->send_and_receive_dict(message);
    const std::string error = errorText(reply);
    if (error.empty()) return Verdict::fail("a reply without an error text: " + brief(reply));
    return Verdict::pass("error " + quoted(error));
}

}  // namespace

std::vector<Check> envelopeChecks() {
    return {
        {"envelope.identity", true, {"job.call"},
         "The plug-in's envelope (request_id, plugin_id \"ExamplePlugin\", plugin_version \"1.0.0\", "
         "tev_lib_version \"2\") is accepted on every message of a job, with one request_id on all polls of a job "
         "and the job's own request_id on its abort.",
         "no error on the call, its polls, progress and abort", identity},
        {"envelope.unknown-method", true, {"transport.decode"},
         "A message with an unknown \"method\" gets an error reply, not a dropped connection or another status.",
         "HTTP 200 with a non-empty \"error\"", unknownMethod},
    };
}

}  // namespace Conform
}  // namespace TEV
