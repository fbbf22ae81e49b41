// The conforming fake: the shared job model on the fake server, the frames
// it renders, and the faults that each break one thing.
#include "ConformingFake.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace TEV {
namespace Test {

namespace {

constexpr std::size_t kExpectThreshold = std::size_t(1) << 20;
constexpr std::size_t kBodyLimit = std::size_t(64) << 20;
// Frames are "rendered" at this rate, so that a large frame's job runs a while.
constexpr double kBytesPerSecond = 250e6;
constexpr auto kBaseRunTime = std::chrono::milliseconds(20);

Dict map(std::initializer_list<std::pair<const std::string, Dict>> entries) {
    return Dict(std::map<std::string, Dict>(entries));
}

std::size_t bytesPerSample(long long bit_depth) { return bit_depth == 32 ? 4 : bit_depth == 16 ? 2 : 1; }

std::size_t pixelEntryBytes(const Dict& image) {
    const Dict& pixels = image.get("pixels");
    return pixels.type == Dict::Bytes ? std::get<std::vector<char>>(pixels.value).size() : 0;
}

// What is wrong with a render's image, or "" when it can be rendered.
std::string frameProblem(const Dict& image) {
    if (!image.isImage()) return "render args lack an image";
    const long long width = image.getInt("width", -1), height = image.getInt("height", -1);
    const long long channels = image.getInt("channels", 0), depth = image.getInt("bit_depth", 0);
    if (depth != 8 && depth != 16 && depth != 32)
        return "image 'bit_depth' is " + std::to_string(depth) + "; only 8, 16 and 32 are served";
    if (width < 0 || height < 0 || channels < 1 || channels > 4) return "image geometry out of range";
    const std::size_t need = std::size_t(width) * height * channels * bytesPerSample(depth);
    const std::size_t held = pixelEntryBytes(image);
    if (held != need)
        return "image 'pixels' holds " + std::to_string(held) + " bytes, " + std::to_string(need) + " needed";
    return "";
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

const char* name(Fault f) {
    switch (f) {
        case Fault::none: return "none";
        case Fault::http_404: return "http_404";
        case Fault::deep_nesting: return "deep_nesting";
        case Fault::no_keep_alive: return "no_keep_alive";
        case Fault::expect_required: return "expect_required";
        case Fault::body_limit: return "body_limit";
        case Fault::repeated_id_refused: return "repeated_id_refused";
        case Fault::unknown_method_drops: return "unknown_method_drops";
        case Fault::own_job_ids: return "own_job_ids";
        case Fault::bare_pending_marker: return "bare_pending_marker";
        case Fault::progress_backwards: return "progress_backwards";
        case Fault::abort_ignored: return "abort_ignored";
        case Fault::results_repeat: return "results_repeat";
        case Fault::swapped_8bit: return "swapped_8bit";
        case Fault::sixteen_as_eight: return "sixteen_as_eight";
        case Fault::short_float_block: return "short_float_block";
        case Fault::alpha_dropped: return "alpha_dropped";
        case Fault::malformed_rendered: return "malformed_rendered";
        case Fault::long_reply_errors: return "long_reply_errors";
        case Fault::multiline_result_errors: return "multiline_result_errors";
        case Fault::tiny_jobs_stall: return "tiny_jobs_stall";
        case Fault::slow_hd_8bit: return "slow_hd_8bit";
        case Fault::results_crossed: return "results_crossed";
    }
    return "unknown";
}

namespace {

// The job model's faults for `fault` and `extra`.
std::set<JobFault> jobFaults(Fault fault, std::set<JobFault> extra) {
    switch (fault) {
        case Fault::own_job_ids: extra.insert(JobFault::own_job_ids); break;
        case Fault::bare_pending_marker: extra.insert(JobFault::bare_pending_marker); break;
        case Fault::progress_backwards: extra.insert(JobFault::progress_backwards); break;
        case Fault::abort_ignored: extra.insert(JobFault::abort_ignored); break;
        case Fault::results_repeat: extra.insert(JobFault::results_repeat); break;
        case Fault::results_crossed: extra.insert(JobFault::results_crossed); break;
        default: break;
    }
    return extra;
}

}  // namespace

ConformingFake::ConformingFake(Fault fault, std::set<JobFault> job_faults)
    : fault_(fault), jobs_(jobFaults(fault, std::move(job_faults))), server_(0) {
    if (fault == Fault::http_404) server_.misbehave(Misbehaviour::http_404);
    if (fault == Fault::deep_nesting) server_.misbehave(Misbehaviour::deep_nesting);
    server_.setHandler("", [this](const ReceivedRequest& request) { return answer(request); });
}

void ConformingFake::skipNeutralWork() {
    std::lock_guard<std::mutex> lock(mutex_);
    skip_neutral_work_ = true;
}

// The handler touches the jobs: the server's threads end first.
ConformingFake::~ConformingFake() { server_.stop(); }

Answer ConformingFake::answer(const ReceivedRequest& request) {
    if (fault_ == Fault::expect_required && request.body_size > kExpectThreshold &&
        lower(request.header("Expect")) != "100-continue")
        return Answer::bytes("large bodies need Expect: 100-continue", 417);
    if (fault_ == Fault::body_limit && request.body_size > kBodyLimit)
        return Answer::bytes("request body over 64 MiB", 413);

    const Dict& message = request.message;
    std::lock_guard<std::mutex> lock(mutex_);
    if (fault_ == Fault::repeated_id_refused) {
        const std::string id = message.getString("request_id", "");
        if (!seen_ids_.insert(id).second) return refuse("request id '" + id + "' was used before", message);
    }
    Answer a;
    const std::string& method = request.method;
    if (method == "call_plugin") {
        a = callPlugin(message);
    } else if (method == "get_result") {
        a = reply(jobs_.poll(message), message);
    } else if (method == "get_progress") {
        a = reply(jobs_.progress(message), message);
    } else if (method == "abort_request") {
        a = reply(jobs_.abort(message), message);
    } else if (method == "unload_plugin" || method == "open_tev_app") {
        a = Answer::result(map({{"ok", true}}));
    } else if (fault_ == Fault::unknown_method_drops) {
        return Answer::misbehave(Misbehaviour::close_without_answer);
    } else {
        a = refuse("unknown method '" + method + "'", message);
    }
    if (fault_ == Fault::no_keep_alive) a.misbehaviour = Misbehaviour::close_after_answer;
    return a;
}

Answer ConformingFake::refuse(const std::string& text, const Dict& message) const {
    if (fault_ != Fault::long_reply_errors) return Answer::error(text);
    return Answer::error(text + " (request " + message.getString("request_id", "") + " from " +
                         message.getString("plugin_id", "") + " " + message.getString("plugin_version", "") +
                         ", client library " + message.getString("tev_lib_version", "") + ", method " +
                         message.getString("method", "") + ")");
}

Answer ConformingFake::reply(Dict body, const Dict& message) const {
    if (body.contains("error")) return refuse(body.getString("error", ""), message);
    Answer a;
    a.body = std::move(body);
    return a;
}

Answer ConformingFake::callPlugin(const Dict& message) {
    const std::string function = message.getString("function_name", "");
    if (function == "user_changed_param") return Answer::result(map({{"ok", true}}));
    const std::string problem =
        function == "render" ? frameProblem(message.path("args.image")) : "unknown function '" + function + "'";
    if (!problem.empty() && !(fault_ == Fault::malformed_rendered && function == "render")) {
        if (fault_ != Fault::multiline_result_errors) return refuse(problem, message);
        JobPlan failing;
        failing.result["error"] =
            "render failed:\nTraceback (most recent call last):\n  ValueError: " + problem;
        failing.progress_from_time = true;
        return reply(jobs_.queue(message, std::move(failing)), message);
    }
    const Dict& frame = message.path("args.image");
    JobPlan job;
    job.result["result"]["image"] = resultImage(frame);
    job.progress_from_time = true;
    const std::size_t bytes = pixelEntryBytes(frame);
    job.run_time = kBaseRunTime + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                      std::chrono::duration<double>(static_cast<double>(bytes) / kBytesPerSecond));
    const long long pixels = frame.getInt("width", 0) * frame.getInt("height", 0);
    const Dict& params = message.path("args.params");
    if (skip_neutral_work_ && params.getFloat("brightness", 0) == 1.0 && params.getFloat("contrast", 0) == 1.0 &&
        params.getFloat("saturation", 0) == 1.0)
        job.run_time = {};
    if (fault_ == Fault::tiny_jobs_stall && pixels < 32 * 32) job.never_finishes = true;
    if (fault_ == Fault::slow_hd_8bit && frame.getInt("bit_depth", 0) == 8 && pixels >= 2'000'000)
        job.run_time = std::chrono::seconds(10);
    return reply(jobs_.queue(message, std::move(job)), message);
}

Dict ConformingFake::resultImage(const Dict& frame) const {
    Dict image = frame;
    const long long depth = frame.getInt("bit_depth", 0), channels = frame.getInt("channels", 0);
    if (fault_ == Fault::swapped_8bit && depth == 8 && channels == 3) {
        image["width"] = frame.getInt("height", 0);
        image["height"] = frame.getInt("width", 0);
    }
    if (fault_ == Fault::sixteen_as_eight && depth == 16 && channels == 3) image["bit_depth"] = 8;
    if (fault_ == Fault::short_float_block && depth == 32 && channels == 3) {
        auto& bytes = std::get<std::vector<char>>(image["pixels"].value);
        bytes.resize(bytes.size() - 4);
    }
    if (fault_ == Fault::alpha_dropped && channels == 4) {
        image["channels"] = 3;
        auto& bytes = std::get<std::vector<char>>(image["pixels"].value);
        bytes.resize(bytes.size() / 4 * 3);
    }
    return image;
}

}  // namespace Test
}  // namespace TEV
