#include "command/CliOptions.h"

#include <cctype>
#include <climits>
#include <filesystem>
#include <stdexcept>

#include "command/OptionTable.h"
#include "files/ImageFiles.h"
#include "tevhost/HostError.h"

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

bool isDirectoryName(const std::string& path) {
    std::error_code ec;
    return (!path.empty() && path.back() == '/') || std::filesystem::is_directory(path, ec);
}

// An output the front end cannot write is a command-line mistake.
void checkOutputName(const std::string& output) {
    if (isDirectoryName(output) || isImageFileName(output)) return;
    throw std::invalid_argument("--out '" + output +
                                "' is neither a .png nor an .exr file, a numbered pattern of one, nor a directory "
                                "(end a new folder's name with /)");
}



}  // namespace

const OptionTable& optionTable() {
    using O = CliOptions;
    using S = const std::string&;
    constexpr unsigned render = kRenderCommand, merge = kMergeCommand, params = kParamsCommand;
    static const OptionTable table = {
        {"--depth", nullptr, "8|16|32", render, false,
         "bits per channel of the render (16: 0..32768, 32: float);\n"
         "default: each file's own (8-bit PNG 8, 16-bit PNG 16, EXR 32)",
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

std::string usage() {
    return "usage:\n"
           "  tev-host render PLUGIN --in INPUT --out OUTPUT [options]\n"
           "  tev-host params PLUGIN [--premiere]\n"
           "  tev-host merge REPORT|FOLDER... [--in INPUT [--frame N]] [--frames RANGE] [--report FILE]\n"
           "  tev-host --help | --version\n"
           "\n"
           "Loads an effect plug-in (a shared library exporting EffectMain) into a headless host.\n"
           "Options may come before or after PLUGIN, as --opt VALUE or --opt=VALUE.\n"
           "PLUGIN without a slash is an installed plug-in, from ../lib/tev-bridge beside\n"
           "tev-host's folder, and nowhere else; a plug-in in the current folder is named\n"
           "./PLUGIN, any other by its path.\n"
           "\n"
           "  params   list the parameters as the plug-in registers them\n"
           "  render   render images through the plug-in, one instance for all frames\n"
           "  merge    one verdict for a render split into parts: merges their --report files\n"
           "\n"
           "INPUT and OUTPUT: an image file (.png 8 or 16 bits, .exr), a numbered pattern such\n"
           "as frames/f_%04d.png (a sequence: every file that matches), or a directory (every\n"
           ".png and .exr in it, in name order; hidden files are left out). A sequence needs a\n"
           "pattern or a directory as OUTPUT; a directory OUTPUT keeps the input file names.\n"
           "Frame numbers: a file's number is the last group of digits in its name\n"
           "(clip_0007.png is frame 7), for patterns, directories and single files alike; a\n"
           "single file without one is frame 0 (or --frame N); a directory of files without\n"
           "numbers is numbered by name order from 0. Two files with one number (plate_1003.png,\n"
           "plate_1003 copy.png) are refused with both names, unless --number-by-name.\n"
           "\n"
           "render options:\n" +
           optionHelp(optionTable(), kRenderCommand) +
           "\n"
           "Output: a line per frame and a total on standard output; warnings, errors and the\n"
           "progress bar on standard error. What the plug-in prints to its console is shown on\n"
           "standard error as whole lines starting with \"plug-in: \".\n"
           "Every frame's line gives its time and its outcome, one of\n"
           "  processed   the output differs from the input and is not a failure overlay\n"
           "  unchanged   the output equals the input\n"
           "  overlay     the plug-in drew its failure message onto the input frame (told from the\n"
           "              frame: equal to the input outside the message's band); the message is\n"
           "              named when redrawing it from the log reproduces the output exactly.\n"
           "              The file is written marked: PNG text / EXR attribute\n"
           "              \"tev-host verdict\" = \"overlay\"; --skip-existing renders it again\n"
           "  failed      the render returned an error, or a file could not be read or written\n"
           "  aborted     stopped by a signal or a write error: cancelled and not written\n"
           "  skipped     --skip-existing: the output file was there\n"
           "  not started the run stopped before this frame (summary and report only)\n"
           "Files are written under a temporary name in their folder and renamed when complete,\n"
           "so an output is whole or absent. Errors that repeat for every file (no space,\n"
           "read-only, permission) stop the run. 16-bit PNG files: the host's 16-bit scale is\n"
           "0..32768, so a 16-bit PNG keeps 15 bits (its lowest bit is lost).\n"
           "\n"
           "Ctrl-C, SIGTERM and SIGHUP abort the frames in flight (through the host's abort\n"
           "callback), keep the frames finished before, and print the summary; a second one ends\n"
           "the program at once. A closed standard output (| head) stops the run the same way;\n"
           "a report or frame lines that cannot be written (a full disk) stop it as a failure.\n"
           "\n"
           "Exit status: 0 every frame written (or skipped) and none shows a failure overlay;\n"
           "1 bad command line; 2 a failure (plug-in, missing or unreadable file, unknown\n"
           "parameter, value out of range, a frame that failed or was not written, output\n"
           "or report that could not be written); 3 every\n"
           "frame written but some show a failure overlay; 128+N stopped by signal N (130\n"
           "SIGINT, 143 SIGTERM, 129 SIGHUP, 141 closed standard output).\n"
           "\n"
           "merge: reads --report files (a folder: its *.jsonl files, oldest first) and prints\n"
           "one summary: frames per outcome, time per frame, the frames that failed, and the\n"
           "frames no report names. A later record of a frame replaces an earlier one (a\n"
           "resumed run), except \"not started\". The frames expected: every frame reported,\n"
           "and with --in the input's frames (--frames limits both). --report FILE writes the\n"
           "merged records and a summary line. Exit status as for render: 0 every frame written\n"
           "or skipped, 2 a frame failed, aborted, not started or missing, 3 every frame written\n"
           "but some show a failure overlay.\n"
           "\n"
           "examples:\n"
           "  tev-host render ExamplePlugin.so --in shot/plate_%04d.exr --out out/plate_%04d.exr \\\n"
           "      --set Brightness=1.2 --threads 2\n"
           "  tev-host render ExamplePlugin.so --in plates/ --out graded/ --frames 1001- --skip-existing\n"
           "  tev-host render ExamplePlugin.so --in rgba_0001.png --out o_%04d.png --alpha input --report -\n"
           "  tev-host render ExamplePlugin.so --in shot/%04d.exr --out out/%04d.exr --chunk 3/8 --report r3.jsonl\n"
           "  tev-host merge reports/ --in shot/%04d.exr\n";
}


std::string versionText() { return std::string("tev-host ") + TEV_HOST_VERSION + "\n"; }

CliOptions parseCommandLine(int argc, char** argv) {
    CliOptions o;
    std::vector<std::string> positional;
    bool options_ended = false;
    const OptionSpec* answer = nullptr;  // the first of --help and --version in the table that was given
    std::vector<std::pair<const OptionSpec*, std::string>> given;  // in order
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (options_ended || a.size() < 2 || a[0] != '-') {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            options_ended = true;
            continue;
        }
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        // A one-dash alias is taken only whole, a "--" name with or without "=VALUE".
        const OptionSpec* spec = findOption(optionTable(), a.rfind("--", 0) == 0 ? name : a);
        if (!spec) throw std::invalid_argument("unknown option '" + name + "'");
        std::string value;
        if (spec->value_name) {
            if (eq != std::string::npos) {
                value = a.substr(eq + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                throw std::invalid_argument("option " + name + " needs a value");
            }
        } else if (eq != std::string::npos) {
            throw std::invalid_argument("option " + name + " takes no value");
        }
        if (spec->at_once && (!answer || spec < answer)) answer = spec;
        given.emplace_back(spec, value);
    }
    if (answer) {  // --help anywhere, also after a command; else --version
        answer->apply(o, answer->name, "");
        return o;
    }
    if (positional.empty()) {
        if (given.empty()) return o;
        throw std::invalid_argument("missing the command (render or params)");
    }
    const std::string& command = positional[0];
    unsigned this_command = 0;
    if (command == "params") {
        o.action = Action::Params;
        this_command = kParamsCommand;
    } else if (command == "render") {
        o.action = Action::Render;
        this_command = kRenderCommand;
    } else if (command == "merge") {
        o.action = Action::Merge;
        this_command = kMergeCommand;
    } else {
        throw std::invalid_argument("unknown command '" + command + "'");
    }
    if (o.action == Action::Merge) {
        if (positional.size() < 2) throw std::invalid_argument("merge needs at least one report file or folder");
        o.reports.assign(positional.begin() + 1, positional.end());
    } else {
        if (positional.size() < 2) {
            throw std::invalid_argument("missing the plug-in path after '" + command + "'");
        }
        if (positional.size() > 2) {
            throw std::invalid_argument("unexpected argument '" + positional[2] + "'");
        }
        o.plugin = positional[1];
    }
    for (const auto& [spec, value] : given) {
        if (spec->commands != kAnyCommand && !(spec->commands & this_command)) {
            throw std::invalid_argument(std::string("option ") + spec->name + " is not for '" + command + "'");
        }
        spec->apply(o, spec->name, value);
    }
    if (o.action == Action::Render) {
        if (o.input.empty() || o.output.empty()) throw std::invalid_argument("render needs --in and --out");
        checkOutputName(o.output);
    }
    return o;
}

std::string installedPluginFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Installed: <prefix>/bin/tev-host and <prefix>/lib/tev-bridge/<plug-in>.
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) throw HostError("cannot tell where tev-host is installed (/proc/self/exe: " + ec.message() + ")");
    return (self.parent_path().parent_path() / "lib" / "tev-bridge").string();
}

std::string pluginLoadPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    if (name.empty()) throw HostError("the plug-in's name is empty");
    namespace fs = std::filesystem;
    std::error_code ec;
    const std::string installed = installedPluginFolder() + "/" + name;
    if (fs::is_regular_file(installed, ec)) return installed;
    throw HostError("plug-in '" + name + "' is not among the installed plug-ins (looked for " + installed +
                    " only); name a plug-in elsewhere by its path, one in the current folder as ./" + name);
}
}  // namespace TEV::Host::Cli
