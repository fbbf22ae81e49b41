#include "CliOptions.h"

#include <stdexcept>

namespace TEV::Host::Cli {

std::string usage() {
    return "usage:\n"
           "  tev-host --help\n"
           "  tev-host params PLUGIN [--premiere]\n"
           "  tev-host render PLUGIN --in INPUT --out OUTPUT [options]\n"
           "\n"
           "Loads an effect plug-in (a shared library exporting EffectMain) into a headless host.\n"
           "\n"
           "  params   list the parameters as the plug-in registers them\n"
           "  render   render images through the plug-in, one instance for all frames\n"
           "\n"
           "INPUT and OUTPUT: an image file (.png 8 or 16 bits, .exr), a numbered pattern such\n"
           "as frames/f_%04d.png (a sequence: every file that matches), or a directory (every\n"
           ".png and .exr in it, in name order). A sequence needs a pattern or a directory as\n"
           "OUTPUT; a directory OUTPUT keeps the input file names.\n"
           "\n"
           "render options:\n"
           "  --depth 8|16|32     bits per channel of the render (16: 0..32768, 32: float);\n"
           "                      default from the first input: 8-bit PNG 8, 16-bit PNG 16, EXR 32\n"
           "  --png-bits 8|16     bits of written PNG files (default 8 for 8-bit renders, else 16)\n"
           "  --set NAME=VALUE    a parameter by name: a number, on/off for a checkbox, a popup\n"
           "                      choice by its text or its number (1 is the first); repeatable\n"
           "  --downsample N      render at 1/N of the size, with the host's downsample 1/N, as a\n"
           "                      host renders a preview; outputs are 1/N of the size\n"
           "  --threads N         render N frames at once (the host's multi-frame rendering);\n"
           "                      the first frame renders alone, since it may start the server\n"
           "  --iterate-threads N threads of the host's pixel iteration (default: all cores)\n"
           "  --frames A-B        only the frames numbered A to B of a sequence\n"
           "  --frame N           frame number (time) of a single image (default 0)\n"
           "  --reconnect         press the plug-in's Reconnect button before rendering\n"
           "  --log FILE          the plug-in's log file, read to name failure overlays\n"
           "                      (default: the build's maker folder, Logs/<plug-in>_Adobe.log)\n"
           "  --no-progress       no progress bar (it is drawn only when stderr is a terminal)\n"
           "  --premiere          imitate the other host: its application id, no AEGP suites, no smart\n"
           "                      rendering (frame setup, render, frame setdown; float frames unchanged)\n"
           "  --books             print what the plug-in did not give back (suites, handles, ...)\n"
           "\n"
           "Every frame gets a line: its time and its outcome, one of\n"
           "  processed   the output differs from the input and is not a failure overlay\n"
           "  unchanged   the output equals the input\n"
           "  overlay     the plug-in drew its failure message onto the input frame; the message\n"
           "              is named only when redrawing it reproduces the output exactly\n"
           "  failed      the render returned an error, or a file could not be read or written\n"
           "  aborted     Ctrl-C: the frame was cancelled and not written\n"
           "then a total. Ctrl-C asks the plug-in to abort the frames in flight (through the\n"
           "host's abort callback); frames finished before stay written. A second Ctrl-C ends\n"
           "the program at once.\n"
           "\n"
           "Exit status: 0 every frame written and none shows a failure overlay; 1 bad command\n"
           "line; 2 a failure (plug-in, missing or unreadable file, unknown parameter, value out\n"
           "of range, a frame that failed); 3 every frame written but some show a failure\n"
           "overlay; 130 interrupted by Ctrl-C.\n";
}

namespace {

int wholeNumber(const std::string& option, const std::string& text, int minimum) {
    try {
        std::size_t used = 0;
        int n = std::stoi(text, &used);
        if (used == text.size() && n >= minimum) {
            return n;
        }
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("option " + option + " needs a whole number of at least " + std::to_string(minimum) +
                                ", not '" + text + "'");
}

void parseRange(const std::string& text, CliOptions& o) {
    std::size_t dash = text.find('-', 1);
    if (dash == std::string::npos) {
        o.first_frame = o.last_frame = wholeNumber("--frames", text, 0);
        return;
    }
    o.first_frame = wholeNumber("--frames", text.substr(0, dash), 0);
    o.last_frame = wholeNumber("--frames", text.substr(dash + 1), 0);
    if (o.last_frame < o.first_frame) {
        throw std::invalid_argument("--frames " + text + " ends before it starts");
    }
}

}  // namespace

CliOptions parseCommandLine(int argc, char** argv) {
    CliOptions o;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        return o;
    }
    if (args[0] == "params") {
        o.action = Action::Params;
    } else if (args[0] == "render") {
        o.action = Action::Render;
    } else {
        throw std::invalid_argument("unknown command '" + args[0] + "' (try --help)");
    }
    if (args.size() < 2 || args[1].rfind("--", 0) == 0) {
        throw std::invalid_argument("missing the plug-in path after '" + args[0] + "'");
    }
    o.plugin = args[1];
    auto value = [&](std::size_t& i) -> const std::string& {
        if (i + 1 >= args.size()) {
            throw std::invalid_argument("option " + args[i] + " needs a value");
        }
        return args[++i];
    };
    const bool render = o.action == Action::Render;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            return CliOptions{};
        } else if (a == "--premiere") {
            o.premiere = true;
        } else if (a == "--books") {
            o.books = true;
        } else if (render && a == "--in") {
            o.input = value(i);
        } else if (render && a == "--out") {
            o.output = value(i);
        } else if (render && a == "--depth") {
            o.depth = wholeNumber(a, value(i), 1);
            if (o.depth != 8 && o.depth != 16 && o.depth != 32) {
                throw std::invalid_argument("--depth must be 8, 16 or 32");
            }
        } else if (render && a == "--png-bits") {
            o.png_bits = wholeNumber(a, value(i), 1);
            if (o.png_bits != 8 && o.png_bits != 16) {
                throw std::invalid_argument("--png-bits must be 8 or 16");
            }
        } else if (render && a == "--frame") {
            o.frame = wholeNumber(a, value(i), 0);
        } else if (render && a == "--frames") {
            parseRange(value(i), o);
        } else if (render && a == "--downsample") {
            o.downsample = wholeNumber(a, value(i), 1);
            if (o.downsample > 16) {
                throw std::invalid_argument("--downsample must be 1 to 16");
            }
        } else if (render && a == "--threads") {
            o.threads = static_cast<unsigned>(wholeNumber(a, value(i), 1));
        } else if (render && a == "--iterate-threads") {
            o.iterate_threads = static_cast<unsigned>(wholeNumber(a, value(i), 0));
        } else if (render && a == "--reconnect") {
            o.reconnect = true;
        } else if (render && a == "--log") {
            o.log_file = value(i);
        } else if (render && a == "--no-progress") {
            o.no_progress = true;
        } else if (render && a == "--set") {
            const std::string& assignment = value(i);
            std::size_t eq = assignment.find('=');
            if (eq == std::string::npos || eq == 0) {
                throw std::invalid_argument("--set needs NAME=VALUE, not '" + assignment + "'");
            }
            o.set.emplace_back(assignment.substr(0, eq), assignment.substr(eq + 1));
        } else {
            throw std::invalid_argument("unknown option '" + a + "' for '" + args[0] + "'");
        }
    }
    if (render && (o.input.empty() || o.output.empty())) {
        throw std::invalid_argument("render needs --in and --out");
    }
    return o;
}

}  // namespace TEV::Host::Cli
