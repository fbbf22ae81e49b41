// transport.*: the HTTP exchange itself, as the plug-in's client makes it.
#include "Frames.h"
#include "Groups.h"
#include "JobDriver.h"
#include "Replies.h"
#include "ResultImage.h"
#include "Transfer.h"

namespace TEV {
namespace Conform {

namespace {

using Clock = std::chrono::steady_clock;

// A small message every server must answer: progress of a job it never saw.
Dict smallMessage() {
    Dict message;
    message["method"] = "get_progress";
    message["for_request_id"] = generate_uuid();
    return message;
}

// The outcome of one small exchange: the reply, or the error it ended in.
struct Exchange {
    bool answered = false;  // HTTP 200 came (the reply may still fail to decode)
    bool decoded = false;
    MessageDict reply;
    std::string failure;
    TransferFacts facts;
};

Exchange exchangeSmall(const Target& target) {
    auto client = target.connect();
    Exchange x;
    Dict message = smallMessage();
    try {
        x.reply = client->send_and_receive_dict(message);
        x.answered = x.decoded = true;
    } catch (const TEVErr& e) {
        // A decoding failure (or a reply over the size limit) comes only after HTTP 200.
        x.answered = e.type == ErrorDecodingMessage;
        x.failure = describeFailure(e);
    }
    x.facts = lastTransfer(*client);
    return x;
}

Verdict post(const Target& target) {
    const Exchange x = exchangeSmall(target);
    if (x.answered) return Verdict::pass(describe(x.facts));
    if (x.facts.status != 0) return Verdict::fail(describe(x.facts) + "; " + x.failure);
    return Verdict::fail(x.failure);
}

Verdict decode(const Target& target) {
    const Exchange x = exchangeSmall(target);
    if (!x.decoded) return Verdict::fail(x.failure);
    if (x.reply.type != Dict::Map) return Verdict::fail("a reply that is no map: " + brief(x.reply));
    return Verdict::pass(brief(x.reply));
}

Verdict keepAlive(const Target& target) {
    auto client = target.connect();
    constexpr int kExchanges = 3;
    for (int i = 1; i <= kExchanges; ++i) {
        Dict message = smallMessage();
        client->send_and_receive_dict(message);
        const TransferFacts facts = lastTransfer(*client);
        if (i > 1 && facts.new_connections != 0)
            return Verdict::fail("exchange " + std::to_string(i) +
                                 " needed a new connection: the server closed the previous one");
    }
    return Verdict::pass(std::to_string(kExchanges) + " exchanges over one connection");
}

// Above 1 MiB, where HTTP clients commonly ask "Expect: 100-continue" first.
constexpr unsigned short kNoExpectWidth = 800, kNoExpectHeight = 600;

Verdict noExpect(const Target& target) {
    auto client = target.connect();
    const Image frame = makeFrame(kNoExpectWidth, kNoExpectHeight, 3, 8);
    JobDriver job(*client);
    const MessageDict reply = job.start(renderCall(job.id(), Dict(frame), target.renderParams()));
    const TransferFacts facts = lastTransfer(*client);
    if (isQueued(reply)) {
        try {
            job.abort();  // only tidying up; the job is not what this check judges
        } catch (const TEVErr&) {
        }
    }
    return Verdict::pass("a " + std::to_string(pixelBytes(kNoExpectWidth, kNoExpectHeight, 3, 8)) +
                         "-byte frame without Expect: " + describe(facts) + ", " + brief(reply, 60));
}

Verdict large(const Target& target) {
    auto client = target.connect();
    const Image frame = makeFrame(3840, 2160, 3, 32);
    const auto start = Clock::now();
    const MessageDict result =
        client->call_plugin_with_image("render", renderArgs(target.renderParams()), "image", frame);
    const auto took = Clock::now() - start;
    const std::string problem = resultImageProblem(result, frame);
    if (!problem.empty()) return Verdict::fail(problem);
    return Verdict::pass(describeResultImage(result) + " each way in " + describeDuration(took));
}

}  // namespace

std::vector<Check> transportChecks() {
    return {
        {"transport.post", true, {},
         "A small message POSTed to /api with the MessagePack content type gets HTTP status 200.",
         "HTTP 200", post},
        {"transport.decode", true, {"transport.post"},
         "The reply decodes under the plug-in's limits (well-formed MessagePack, nesting at most 128 deep, no "
         "header that claims more than the body holds) into a map.",
         "a MessagePack map", decode},
        {"transport.keep-alive", true, {"transport.decode"},
         "Three exchanges in a row travel over one kept-alive connection, as the plug-in's client reuses it.",
         "no new connection after the first exchange", keepAlive},
        {"transport.no-expect", true, {"transport.decode"},
         "A 1.4 MB render request sent without \"Expect: 100-continue\" (the plug-in never sends it) is read and "
         "answered.",
         "HTTP 200 and a MessagePack reply", noExpect},
        {"transport.large", true, {"transport.no-expect", "images.32bit"},
         "A 3840x2160 float frame (99.5 MB) goes out and comes back rendered in one job, through the plug-in's "
         "own frame call.",
         "a 3840x2160x3 float image, 99532800 bytes", large},
    };
}

}  // namespace Conform
}  // namespace TEV
