// errors.*: the texts of a server's errors, which the plug-in draws into the
// frame as its overlay's second line.
#include "Frames.h"
#include "Groups.h"
#include "JobDriver.h"
#include "OverlayFit.h"
#include "Replies.h"
#include "Text.h"

namespace TEV {
namespace Conform {

namespace {

struct ErrorText {
    std::string cause;
    std::string text;
};

struct ErrorTexts {
    std::vector<ErrorText> in_replies;  // "error" of a reply: the call's or a poll's
    std::vector<ErrorText> in_results;  // "error" inside a job's result
    std::vector<std::string> unended;  // causes whose job was still pending at the time-out
};

// Follows a job that was started with `reply` and files every error text it brings.
void fileJobErrors(JobDriver& job, const MessageDict& reply, const std::string& cause, const Target& target,
                   ErrorTexts& texts) {
    if (hasErrorEntry(reply)) {
        texts.in_replies.push_back({cause, errorText(reply)});
        return;
    }
    if (!isQueued(reply)) return;
    const MessageDict answer = job.pollUntilDone(std::chrono::seconds(target.timeout_seconds));
    if (hasErrorEntry(answer))
        texts.in_replies.push_back({cause, errorText(answer)});
    else if (hasErrorEntry(answer.get("result")))
        texts.in_results.push_back({cause, errorText(answer.get("result"))});
    else if (classifyPoll(answer) == PollAnswer::Pending)
        texts.unended.push_back(cause);
}

// Asks for what every server must refuse and collects the texts of the
// refusals. An unknown method can only be refused in a reply, so it is asked
// only for those.
ErrorTexts provokeErrors(const Target& target, bool ask_unknown_method) {
    auto client = target.connect();
    ErrorTexts texts;

    if (ask_unknown_method) {
        Dict unknown_method;
        unknown_method["method"] = "tev_conform_no_such_method";
        const MessageDict reply = client->send_and_receive_dict(unknown_method);
        if (hasErrorEntry(reply)) texts.in_replies.push_back({"an unknown method", errorText(reply)});
    }

    {
        JobDriver job(*client);
        fileJobErrors(job, job.start(unknownFunctionCall(job.id(), target.renderParams())), "an unknown function",
                      target, texts);
    }
    for (MalformedImage& m : malformedImages(64, 48)) {
        JobDriver job(*client);
        fileJobErrors(job, job.start(renderCall(job.id(), std::move(m.image), target.renderParams())), m.what, target,
                      texts);
    }
    {
        // What the plug-in meets when the server restarted while it waited for a job.
        JobDriver job(*client);
        const MessageDict answer = job.poll();
        if (hasErrorEntry(answer)) texts.in_replies.push_back({"get_result for a job it never had", errorText(answer)});
    }
    return texts;
}

Verdict judge(const std::vector<ErrorText>& texts) {
    std::string longest;
    std::size_t longest_size = 0;
    for (const ErrorText& e : texts) {
        const OverlayFit fit = fitOverlayLine(e.text);
        if (!fit.fits) return Verdict::fail("for " + e.cause + ": " + quoted(e.text, 140) + " " + fit.why);
        if (e.text.size() >= longest_size) {
            longest_size = e.text.size();
            longest = "the longest, for " + e.cause + ", " + fit.why;
        }
    }
    return Verdict::pass(std::to_string(texts.size()) + " text(s) fit; " + longest);
}

Verdict replyTexts(const Target& target) {
    const ErrorTexts texts = provokeErrors(target, true);
    if (texts.in_replies.empty()) return Verdict::fail("no reply carried an error text to judge");
    return judge(texts.in_replies);
}

Verdict resultTexts(const Target& target) {
    const ErrorTexts texts = provokeErrors(target, false);
    if (texts.in_results.empty()) {
        // "No error in any result" is judged only when every job was seen to end.
        if (!texts.unended.empty())
            return Verdict::skip("no job result carried an error, and the job for " + texts.unended.front() +
                                 " was still pending after " + std::to_string(target.timeout_seconds) +
                                 " s: nothing to judge");
        return Verdict::pass("no job result carried an error: the server refused everything in its replies");
    }
    return judge(texts.in_results);
}

}  // namespace

std::vector<Check> errorChecks() {
    return {
        {"errors.reply-text", true, {"envelope.unknown-method"},
         "The \"error\" texts of replies (to an unknown method, an unknown function, malformed images, a poll for "
         "a job the server never had) are single lines of UTF-8 that fit the overlay's second line on a "
         "1920-pixel frame.",
         "non-empty one-line texts that fit", replyTexts},
        {"errors.result-text", true, {"job.pending"},
         "Where a job reports its failure inside its result ({\"result\": {\"error\": ...}}), that text is a "
         "non-empty single line that fits the overlay's second line on a 1920-pixel frame.",
         "non-empty one-line texts that fit", resultTexts},
    };
}

}  // namespace Conform
}  // namespace TEV
