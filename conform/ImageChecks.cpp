// images.*: the render's result image at every depth the plug-in sends, and
// the server's answer to a malformed image.
#include "Frames.h"
#include "Groups.h"
#include "JobDriver.h"
#include "Replies.h"
#include "ResultImage.h"
#include "Text.h"

namespace TEV {
namespace Conform {

namespace {

constexpr unsigned short kWidth = 64, kHeight = 48;

// Renders each frame through the plug-in's own frame call and judges the
// result images.
Verdict renderEach(const Target& target, const std::vector<Image>& frames) {
    auto client = target.connect();
    std::string got;
    for (const Image& frame : frames) {
        const MessageDict result =
            client->call_plugin_with_image("render", renderArgs(target.renderParams()), "image", frame);
        const std::string problem = resultImageProblem(result, frame);
        if (!problem.empty()) return Verdict::fail(problem);
        got += (got.empty() ? "" : "; ") + describeResultImage(result);
    }
    return Verdict::pass(got);
}

Verdict depth8(const Target& t) { return renderEach(t, {makeFrame(kWidth, kHeight, 3, 8)}); }
Verdict depth16(const Target& t) { return renderEach(t, {makeFrame(kWidth, kHeight, 3, 16)}); }
Verdict depth32(const Target& t) { return renderEach(t, {makeFrame(kWidth, kHeight, 3, 32)}); }
Verdict alpha(const Target& t) {
    return renderEach(t, {makeFrame(kWidth, kHeight, 4, 8), makeFrame(kWidth, kHeight, 4, 16),
                          makeFrame(kWidth, kHeight, 4, 32)});
}

Verdict malformed(const Target& target) {
    auto client = target.connect();
    std::string got;
    for (MalformedImage& m : malformedImages(kWidth, kHeight)) {
        JobDriver job(*client);
        const MessageDict reply = job.start(renderCall(job.id(), std::move(m.image), target.renderParams()));
        std::string where;
        if (hasErrorEntry(reply)) {
            where = "the call's reply";
        } else if (isQueued(reply)) {
            const MessageDict answer = job.pollUntilDone(std::chrono::seconds(target.timeout_seconds));
            if (hasErrorEntry(answer))
                where = "get_result's reply";
            else if (hasErrorEntry(answer.get("result")))
                where = "the job's result";
            else
                return Verdict::fail(std::string(m.what) + ": the job ended in " + brief(answer));
        } else {
            return Verdict::fail(std::string(m.what) + ": " + brief(reply));
        }
        got += (got.empty() ? "" : "; ") + std::string(m.what) + ": an error in " + where;
    }
    return Verdict::pass(got);
}

}  // namespace

std::vector<Check> imageChecks() {
    return {
        {"images.8bit", true, {"job.pending"},
         "An 8-bit 3-channel frame comes back as an image dictionary of its width, height, channels and depth "
         "with a pixel block of width x height x 3 bytes.",
         "64x48x3 at 8 bits, 9216 bytes", depth8},
        {"images.16bit", true, {"job.pending"},
         "The same for a 16-bit frame: two bytes per sample in native order.",
         "64x48x3 at 16 bits, 18432 bytes", depth16},
        {"images.32bit", true, {"job.pending"},
         "The same for a float frame: four bytes per sample.",
         "64x48x3 at 32 bits, 36864 bytes", depth32},
        {"images.alpha", true, {"job.pending"},
         "4-channel frames at 8, 16 and 32 bits come back with their 4 channels.",
         "64x48x4 at 8, 16 and 32 bits", alpha},
        {"images.malformed", true, {"job.call"},
         "A render whose image is malformed (a short pixel block; a bit depth of 12) is refused with an \"error\", "
         "in the call's reply or in the job's.",
         "an \"error\" for each malformed image", malformed},
    };
}

}  // namespace Conform
}  // namespace TEV
