#include "command/CliOptions.h"

#include <cctype>
#include <climits>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "files/ImageFiles.h"

namespace TEV::Host::Cli {

std::string usage() {
    return "usage:\n"
           "  tev-host render PLUGIN --in INPUT --out OUTPUT [options]\n"
           "  tev-host params PLUGIN [--premiere]\n"
           "  tev-host merge REPORT|FOLDER... [--in INPUT [--frame N]] [--frames RANGE] [--report FILE]\n"
           "  tev-host --help | --version\n"
           "\n"
           "Loads an effect plug-in (a shared library exporting EffectMain) into a headless host.\n"
           "Options may come before or after PLUGIN, as --opt VALUE or --opt=VALUE; a PLUGIN\n"
           "without a slash is taken from the current folder when such a file is there, else\n"
           "from the installed plug-ins (../lib/tev-bridge beside tev-host's folder).\n"
           "\n"
           "  params   list the parameters as the plug-in registers them\n"
           "  render   render images through the plug-in, one instance for all frames\n"
           "  merge    one verdict for a render split into parts: merges their --report files\n"
           "\n"
           "INPUT and OUTPUT: an image file (.png 8 or 16 bits, .exr, .tif, .dpx, .jpg, .tga), a\n"
           "numbered pattern such as frames/f_%04d.png (a sequence: every file that matches), or a\n"
           "directory (every image in it, in name order; hidden files are left out). A sequence needs a\n"
           "pattern or a directory as OUTPUT; a directory OUTPUT keeps the input file names.\n"
           "Frame numbers: a file's number is the last group of digits in its name\n"
           "(clip_0007.png is frame 7), for patterns, directories and single files alike; a\n"
           "single file without one is frame 0 (or --frame N); a directory of files without\n"
           "numbers is numbered by name order from 0. Two files with one number (plate_1003.png,\n"
           "plate_1003 copy.png) are refused with both names, unless --number-by-name.\n"
           "\n"
           "render options:\n"
           "  --depth 8|16|32     bits per channel of the render (16: 0..32768, 32: float);\n"
           "                      default: each file's own (8-bit 8, 10 to 16-bit 16, EXR and float 32)\n"
           "  --png-bits 8|16     bits of written PNG files (default 8 for 8-bit renders, else 16)\n"
           "  --png-level N       compression of written PNG files, 0 (none) to 9 (smallest);\n"
           "                      default 1: the fastest; 3 to 9 save about 5 % on grainy plates\n"
           "  --set NAME=VALUE    a parameter by name: a number, on/off for a checkbox, a popup\n"
           "                      choice by its text or its number (1 is the first); repeatable\n"
           "  --frames RANGE      only these frame numbers: A, A-B, A- (A to the end), and a\n"
           "                      step with x: 1-100x2 is 1, 3, 5, ... 99\n"
           "  --frame N           frame number (time) of a single image\n"
           "  --skip-existing     leave frames whose output file exists (resume a stopped run),\n"
           "                      except those marked as showing the failure overlay\n"
           "  --chunk K/N         only the K-th of N contiguous, near-equal parts of the frame list\n"
           "                      (K from 1; parts past the list's end hold no frame and succeed)\n"
           "  --dry-run           list the frames (\"frame N  IN -> OUT\") and try the first input and\n"
           "                      the output folders, without loading the plug-in\n"
           "  --alpha effect|input  alpha of written files: the effect's (default; this effect\n"
           "                      returns opaque pixels, so outputs are opaque) or the input's\n"
           "  --layer NAME        EXR input: read the channels NAME.R, NAME.G, ... of that layer\n"
           "  --exr-float         EXR outputs in 32-bit float; by default an EXR input's data and\n"
           "                      display windows, pixel aspect and half or float channels are kept\n"
           "                      (with every other channel, layer and part of the file)\n"
           "  --exr-compression NAME  compression of written EXR files: none, rle, zips, zip, piz,\n"
           "                      pxr24, b44, b44a, dwaa, dwab (default: the input's; zip for PNG inputs)\n"
           "  --downsample N      render at 1/N of the size, with the host's downsample 1/N, as a\n"
           "                      host renders a preview; outputs are 1/N of the size\n"
           "  --threads N         render N frames at once, 1 to 64 (multi-frame rendering);\n"
           "                      the first frame rendered (skipped ones aside) renders alone,\n"
           "                      since it may start the server\n"
           "  --iterate-threads N threads of the host's pixel iteration (default: all cores)\n"
           "  --reconnect         press the plug-in's Reconnect button before rendering\n"
           "  --retries N         a frame that shows an outage (\"Can't connect\", a time-out, a job\n"
           "                      the server lost) is rendered again after pressing Reconnect, up\n"
           "                      to N times (default 3; 0: never); errors the server states about\n"
           "                      the request are not retried. A frame still out of reach after\n"
           "                      its retries stops the run\n"
           "  --retry-pause S     seconds before the first retry, doubled for each next (default 5)\n"
           "  --log FILE          the plug-in's log file, read to name failure overlays (the frame\n"
           "                      itself tells an overlay; the log only names its message)\n"
           "                      (default: the build's maker folder, Logs/<plug-in>_Adobe.log)\n"
           "  --report FILE       one JSON record per frame asked for (input, output, frame,\n"
           "                      seconds, verdict, message), a line each, then a summary record\n"
           "                      with the counts and the exit status; FILE - is standard\n"
           "                      output, and the frame lines then go to standard error\n"
           "  --number-by-name    number a directory's files 0, 1, 2, ... in name order\n"
           "  --no-progress       no progress bar (it is drawn only when stderr is a terminal)\n"
           "  --premiere          imitate the other host: its application id, no AEGP suites, no smart\n"
           "                      rendering (frame setup, render, frame setdown; float frames unchanged)\n"
           "  --books             print what the plug-in did not give back (suites, handles, ...)\n"
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
                                "' is neither an image file (.png, .exr, .tif, .dpx, .jpg...), a numbered pattern of one, nor a directory "
                                "(end a new folder's name with /)");
}

enum class Takes { Nothing, Value };
// The commands an option belongs to.
constexpr unsigned kAny = 0, kRender = 1, kMerge = 2, kParams = 4;
struct OptionInfo {
    Takes takes;
    unsigned commands;  // kAny or a mask
};

const std::map<std::string, OptionInfo>& knownOptions() {
    static const std::map<std::string, OptionInfo> options = {
        {"--help", {Takes::Nothing, kAny}},          {"--version", {Takes::Nothing, kAny}},
        {"--premiere", {Takes::Nothing, kRender | kParams}},
        {"--books", {Takes::Nothing, kRender | kParams}},
        {"--in", {Takes::Value, kRender | kMerge}},  {"--out", {Takes::Value, kRender}},
        {"--depth", {Takes::Value, kRender}},        {"--png-bits", {Takes::Value, kRender}},
        {"--frame", {Takes::Value, kRender | kMerge}}, {"--frames", {Takes::Value, kRender | kMerge}},
        {"--downsample", {Takes::Value, kRender}},   {"--threads", {Takes::Value, kRender}},
        {"--iterate-threads", {Takes::Value, kRender}}, {"--reconnect", {Takes::Nothing, kRender}},
        {"--log", {Takes::Value, kRender}},          {"--no-progress", {Takes::Nothing, kRender}},
        {"--set", {Takes::Value, kRender}},          {"--skip-existing", {Takes::Nothing, kRender}},
        {"--alpha", {Takes::Value, kRender}},        {"--layer", {Takes::Value, kRender}},
        {"--report", {Takes::Value, kRender | kMerge}}, {"--exr-float", {Takes::Nothing, kRender}},
        {"--chunk", {Takes::Value, kRender}},        {"--dry-run", {Takes::Nothing, kRender}},
        {"--number-by-name", {Takes::Nothing, kRender | kMerge}},
        {"--retries", {Takes::Value, kRender}},      {"--retry-pause", {Takes::Value, kRender}},
        {"--png-level", {Takes::Value, kRender}},    {"--exr-compression", {Takes::Value, kRender}},
    };
    return options;
}

void apply(CliOptions& o, const std::string& name, const std::string& v) {
    if (name == "--premiere") {
        o.premiere = true;
    } else if (name == "--books") {
        o.books = true;
    } else if (name == "--in") {
        o.input = v;
    } else if (name == "--out") {
        o.output = v;
    } else if (name == "--depth") {
        o.depth = wholeNumber(name, v, 1);
        if (o.depth != 8 && o.depth != 16 && o.depth != 32) throw std::invalid_argument("--depth must be 8, 16 or 32");
    } else if (name == "--png-bits") {
        o.png_bits = wholeNumber(name, v, 1);
        if (o.png_bits != 8 && o.png_bits != 16) throw std::invalid_argument("--png-bits must be 8 or 16");
    } else if (name == "--png-level") {
        o.png_level = wholeNumber(name, v, 0);
        if (o.png_level > 9) throw std::invalid_argument("--png-level must be 0 to 9");
    } else if (name == "--exr-compression") {
        if (!isExrCompressionName(v)) {
            throw std::invalid_argument("--exr-compression must be one of none, rle, zips, zip, piz, pxr24, b44, "
                                        "b44a, dwaa, dwab, not '" + v + "'");
        }
        o.exr_compression = v;
    } else if (name == "--frame") {
        o.frame = wholeNumber(name, v, 0);
    } else if (name == "--frames") {
        parseRange(v, o);
    } else if (name == "--downsample") {
        o.downsample = wholeNumber(name, v, 1);
        if (o.downsample > 16) throw std::invalid_argument("--downsample must be 1 to 16");
    } else if (name == "--threads") {
        o.threads = static_cast<unsigned>(wholeNumber(name, v, 1));
        if (o.threads > kMaxThreads) {
            throw std::invalid_argument("--threads must be 1 to " + std::to_string(kMaxThreads) + ", not " + v);
        }
    } else if (name == "--iterate-threads") {
        o.iterate_threads = static_cast<unsigned>(wholeNumber(name, v, 0));
    } else if (name == "--number-by-name") {
        o.numbering = Numbering::ByNameOrder;
    } else if (name == "--reconnect") {
        o.reconnect = true;
    } else if (name == "--retries") {
        o.retries = wholeNumber(name, v, 0);
    } else if (name == "--retry-pause") {
        o.retry_pause = seconds(name, v);
    } else if (name == "--log") {
        o.log_file = v;
    } else if (name == "--no-progress") {
        o.no_progress = true;
    } else if (name == "--skip-existing") {
        o.skip_existing = true;
    } else if (name == "--alpha") {
        if (v == "effect") {
            o.alpha = AlphaSource::Effect;
        } else if (v == "input") {
            o.alpha = AlphaSource::Input;
        } else {
            throw std::invalid_argument("--alpha must be effect or input, not '" + v + "'");
        }
    } else if (name == "--exr-float") {
        o.exr_float = true;
    } else if (name == "--layer") {
        o.layer = v;
    } else if (name == "--report") {
        if (v.empty()) throw std::invalid_argument("--report needs a file name (or - for standard output)");
        o.report_file = v;
    } else if (name == "--dry-run") {
        o.dry_run = true;
    } else if (name == "--chunk") {
        o.chunk = parseChunk(v);
    } else if (name == "--set") {
        const std::size_t eq = v.find('=');
        if (eq == std::string::npos || eq == 0) {
            throw std::invalid_argument("--set needs NAME=VALUE, not '" + v + "'");
        }
        o.set.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    }
}

}  // namespace

CliOptions parseCommandLine(int argc, char** argv) {
    CliOptions o;
    std::vector<std::string> positional;
    bool help = false, version = false, options_ended = false;
    std::vector<std::pair<std::string, std::string>> given;  // in order
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
        if (a == "-h") {
            help = true;
            continue;
        }
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const auto known = knownOptions().find(name);
        if (name.rfind("--", 0) != 0 || known == knownOptions().end()) {
            throw std::invalid_argument("unknown option '" + name + "'");
        }
        std::string value;
        if (known->second.takes == Takes::Value) {
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
        if (name == "--help") help = true;
        if (name == "--version") version = true;
        given.emplace_back(name, value);
    }
    if (help) return o;  // --help anywhere, also after a command
    if (version) {
        o.action = Action::Version;
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
        this_command = kParams;
    } else if (command == "render") {
        o.action = Action::Render;
        this_command = kRender;
    } else if (command == "merge") {
        o.action = Action::Merge;
        this_command = kMerge;
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
    const bool render = o.action == Action::Render;
    for (const auto& [name, value] : given) {
        const unsigned commands = knownOptions().at(name).commands;
        if (commands != kAny && !(commands & this_command)) {
            throw std::invalid_argument("option " + name + " is not for '" + command + "'");
        }
        apply(o, name, value);
    }
    if (render) {
        if (o.input.empty() || o.output.empty()) throw std::invalid_argument("render needs --in and --out");
        checkOutputName(o.output);
    }
    return o;
}

std::string pluginLoadPath(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (name.find('/') != std::string::npos || name.empty()) return name;
    if (fs::is_regular_file(name, ec)) return "./" + name;
    // Installed: <prefix>/bin/tev-host and <prefix>/lib/tev-bridge/<plug-in>.
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path installed = self.parent_path().parent_path() / "lib" / "tev-bridge" / name;
        if (fs::is_regular_file(installed, ec)) return installed.string();
    }
    return name;
}

}  // namespace TEV::Host::Cli
