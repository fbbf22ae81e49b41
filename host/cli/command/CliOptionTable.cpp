// tev-host's options, one entry each: spelling, value, commands, help text
// and what it does to the CliOptions record.
#include <cctype>
#include <climits>
#include <stdexcept>

#include "command/CliOptions.h"
#include "files/ImageFiles.h"

namespace TEV::Host::Cli {

namespace {

int wholeNumber(const std::string& option, const std::string& text, int minimum) {
    try {
        std::size_t used = 0;
        int n = std::stoi(text, &used);
        if (used == text.size() && n >= minimum && !text.empty() && text[0] != '+' && text[0] != ' ') {
            return n;
        }
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("option " + option + " needs a whole number of at least " + std::to_string(minimum) +
                                ", not '" + text + "'");
}

// A number of seconds from 0 to one hour, with or without a fraction.
double seconds(const std::string& option, const std::string& text) {
    try {
        std::size_t used = 0;
        const double s = std::stod(text, &used);
        if (used == text.size() && s >= 0 && s <= 3600 && std::isdigit(static_cast<unsigned char>(text[0]))) return s;
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("option " + option + " needs seconds from 0 to 3600, not '" + text + "'");
}

// A, A-B, A-, with an optional step xS.
void parseRange(const std::string& text, CliOptions& o) {
    std::string range = text;
    const std::size_t x = range.find('x');
    if (x != std::string::npos) {
        o.frame_step = wholeNumber("--frames", range.substr(x + 1), 1);
        range.erase(x);
    }
    const std::size_t dash = range.find('-', 1);
    if (dash == std::string::npos) {
        o.first_frame = o.last_frame = wholeNumber("--frames", range, 0);
        return;
    }
    o.first_frame = wholeNumber("--frames", range.substr(0, dash), 0);
    const std::string end = range.substr(dash + 1);
    o.last_frame = end.empty() ? INT_MAX : wholeNumber("--frames", end, 0);
    if (o.last_frame < o.first_frame) {
        throw std::invalid_argument("--frames " + text + " ends before it starts");
    }
}

}  // namespace

const OptionTable& optionTable() {
    using O = CliOptions;
    using S = const std::string&;
    constexpr unsigned render = kRenderCommand, merge = kMergeCommand, params = kParamsCommand;
    static const OptionTable table = {
        {"--depth", nullptr, "8|16|32", render, false,
         "bits per channel of the render (16: 0..32768, 32: float);\n"
         "default: each file's own (8-bit 8, 10 to 16-bit 16, EXR and float 32)",
         [](O& o, S name, S v) {
             o.depth = wholeNumber(name, v, 1);
             if (o.depth != 8 && o.depth != 16 && o.depth != 32) {
                 throw std::invalid_argument("--depth must be 8, 16 or 32");
             }
         }},
        {"--png-bits", nullptr, "8|16", render, false,
         "bits of written PNG files (default 8 for 8-bit renders, else 16)",
         [](O& o, S name, S v) {
             o.png_bits = wholeNumber(name, v, 1);
             if (o.png_bits != 8 && o.png_bits != 16) throw std::invalid_argument("--png-bits must be 8 or 16");
         }},
        {"--png-level", nullptr, "N", render, false,
         "compression of written PNG files, 0 (none) to 9 (smallest);\n"
         "default 1: the fastest; 3 to 9 save about 5 % on grainy plates",
         [](O& o, S name, S v) {
             o.png_level = wholeNumber(name, v, 0);
             if (o.png_level > 9) throw std::invalid_argument("--png-level must be 0 to 9");
         }},
        {"--set", nullptr, "NAME=VALUE", render, false,
         "a parameter by name: a number, on/off for a checkbox, a popup\n"
         "choice by its text or its number (1 is the first); repeatable",
         [](O& o, S, S v) {
             const std::size_t eq = v.find('=');
             if (eq == std::string::npos || eq == 0) {
                 throw std::invalid_argument("--set needs NAME=VALUE, not '" + v + "'");
             }
             o.set.emplace_back(v.substr(0, eq), v.substr(eq + 1));
         }},
        {"--frames", nullptr, "RANGE", render | merge, false,
         "only these frame numbers: A, A-B, A- (A to the end), and a\n"
         "step with x: 1-100x2 is 1, 3, 5, ... 99",
         [](O& o, S, S v) { parseRange(v, o); }},
        {"--frame", nullptr, "N", render | merge, false, "frame number (time) of a single image",
         [](O& o, S name, S v) { o.frame = wholeNumber(name, v, 0); }},
        {"--skip-existing", nullptr, nullptr, render, false,
         "leave frames whose output file exists (resume a stopped run),\n"
         "except those marked as showing the failure overlay",
         [](O& o, S, S) { o.skip_existing = true; }},
        {"--chunk", nullptr, "K/N", render, false,
         "only the K-th of N contiguous, near-equal parts of the frame list\n"
         "(K from 1; parts past the list's end hold no frame and succeed)",
         [](O& o, S, S v) { o.chunk = parseChunk(v); }},
        {"--dry-run", nullptr, nullptr, render, false,
         "list the frames (\"frame N  IN -> OUT\") and try the first input and\n"
         "the output folders, without loading the plug-in",
         [](O& o, S, S) { o.dry_run = true; }},
        {"--alpha", nullptr, "effect|input", render, false,
         "alpha of written files: the effect's (default; this effect\n"
         "returns opaque pixels, so outputs are opaque) or the input's",
         [](O& o, S, S v) {
             if (v == "effect") {
                 o.alpha = AlphaSource::Effect;
             } else if (v == "input") {
                 o.alpha = AlphaSource::Input;
             } else {
                 throw std::invalid_argument("--alpha must be effect or input, not '" + v + "'");
             }
         }},
        {"--layer", nullptr, "NAME", render, false, "EXR input: read the channels NAME.R, NAME.G, ... of that layer",
         [](O& o, S, S v) { o.layer = v; }},
        {"--exr-float", nullptr, nullptr, render, false,
         "EXR outputs in 32-bit float; by default an EXR input's data and\n"
         "display windows, pixel aspect and half or float channels are kept\n"
         "(with every other channel, layer and part of the file)",
         [](O& o, S, S) { o.exr_float = true; }},
        {"--exr-compression", nullptr, "NAME", render, false,
         "compression of written EXR files: none, rle, zips, zip, piz,\n"
         "pxr24, b44, b44a, dwaa, dwab (default: the input's; zip for PNG inputs)",
         [](O& o, S, S v) {
             if (!isExrCompressionName(v)) {
                 throw std::invalid_argument("--exr-compression must be one of none, rle, zips, zip, piz, pxr24, "
                                             "b44, b44a, dwaa, dwab, not '" + v + "'");
             }
             o.exr_compression = v;
         }},
        {"--downsample", nullptr, "N", render, false,
         "render at 1/N of the size, with the host's downsample 1/N, as a\n"
         "host renders a preview; outputs are 1/N of the size",
         [](O& o, S name, S v) {
             o.downsample = wholeNumber(name, v, 1);
             if (o.downsample > 16) throw std::invalid_argument("--downsample must be 1 to 16");
         }},
        {"--threads", nullptr, "N", render, false,
         "render N frames at once, 1 to 64 (multi-frame rendering);\n"
         "the first frame rendered (skipped ones aside) renders alone,\n"
         "since it may start the server",
         [](O& o, S name, S v) {
             o.threads = static_cast<unsigned>(wholeNumber(name, v, 1));
             if (o.threads > kMaxThreads) {
                 throw std::invalid_argument("--threads must be 1 to " + std::to_string(kMaxThreads) + ", not " + v);
             }
         }},
        {"--iterate-threads", nullptr, "N", render, false, "threads of the host's pixel iteration (default: all cores)",
         [](O& o, S name, S v) { o.iterate_threads = static_cast<unsigned>(wholeNumber(name, v, 0)); }},
        {"--reconnect", nullptr, nullptr, render, false, "press the plug-in's Reconnect button before rendering",
         [](O& o, S, S) { o.reconnect = true; }},
        {"--retries", nullptr, "N", render, false,
         "a frame that shows an outage (\"Can't connect\", a time-out, a job\n"
         "the server lost) is rendered again after pressing Reconnect, up\n"
         "to N times (default 3; 0: never); errors the server states about\n"
         "the request are not retried. A frame still out of reach after\n"
         "its retries stops the run",
         [](O& o, S name, S v) { o.retries = wholeNumber(name, v, 0); }},
        {"--retry-pause", nullptr, "S", render, false, "seconds before the first retry, doubled for each next (default 5)",
         [](O& o, S name, S v) { o.retry_pause = seconds(name, v); }},
        {"--log", nullptr, "FILE", render, false,
         "the plug-in's log file, read to name failure overlays (the frame\n"
         "itself tells an overlay; the log only names its message)\n"
         "(default: the build's maker folder, Logs/<plug-in>_Adobe.log)",
         [](O& o, S, S v) { o.log_file = v; }},
        {"--report", nullptr, "FILE", render | merge, false,
         "one JSON record per frame asked for (input, output, frame,\n"
         "seconds, verdict, message), a line each, then a summary record\n"
         "with the counts and the exit status; FILE - is standard\n"
         "output, and the frame lines then go to standard error",
         [](O& o, S, S v) {
             if (v.empty()) throw std::invalid_argument("--report needs a file name (or - for standard output)");
             o.report_file = v;
         }},
        {"--number-by-name", nullptr, nullptr, render | merge, false,
         "number a directory's files 0, 1, 2, ... in name order",
         [](O& o, S, S) { o.numbering = Numbering::ByNameOrder; }},
        {"--no-progress", nullptr, nullptr, render, false,
         "no progress bar (it is drawn only when stderr is a terminal)", [](O& o, S, S) { o.no_progress = true; }},
        {"--premiere", nullptr, nullptr, render | params, false,
         "imitate the other host: its application id, no AEGP suites, no smart\n"
         "rendering (frame setup, render, frame setdown; float frames unchanged)",
         [](O& o, S, S) { o.premiere = true; }},
        {"--books", nullptr, nullptr, render | params, false,
         "print what the plug-in did not give back (suites, handles, ...)", [](O& o, S, S) { o.books = true; }},
        // Shown by the synopsis.
        {"--in", nullptr, "INPUT", render | merge, false, "", [](O& o, S, S v) { o.input = v; }},
        {"--out", nullptr, "OUTPUT", render, false, "", [](O& o, S, S v) { o.output = v; }},
        {"--help", "-h", nullptr, kAnyCommand, true, "", [](O& o, S, S) { o.action = Action::Help; }},
        {"--version", nullptr, nullptr, kAnyCommand, true, "", [](O& o, S, S) { o.action = Action::Version; }},
    };
    return table;
}

}  // namespace TEV::Host::Cli
