#include "command/CliOptions.h"

#include <filesystem>
#include <stdexcept>

#include "command/OptionTable.h"
#include "files/ImageFiles.h"
#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

namespace {

bool isDirectoryName(const std::string& path) {
    std::error_code ec;
    return (!path.empty() && path.back() == '/') || std::filesystem::is_directory(path, ec);
}

// An output the front end cannot write is a command-line mistake.
void checkOutputName(const std::string& output) {
    if (isDirectoryName(output) || isImageFileName(output)) return;
    throw std::invalid_argument("--out '" + output +
                                "' is neither an image file (.png, .exr, .tif, .dpx, .jpg...), a numbered pattern "
                                "of one, nor a directory (end a new folder's name with /)");
}

}  // namespace

std::string usage() {
    // "usage:" and "or:" lines, which the manual page keeps apart; the help of
    // a listed name (options, outcomes) two spaces after it, for the same reason.
    return "usage: tev-host render PLUGIN --in INPUT --out OUTPUT [options]\n"
           "  or:  tev-host params PLUGIN [--premiere]\n"
           "  or:  tev-host merge REPORT|FOLDER... [--in INPUT [--frame N]] [--frames RANGE] [--report FILE]\n"
           "  or:  tev-host --help | --version\n"
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
           "render options:\n" +
           optionHelp(optionTable(), kRenderCommand) +
           "\n"
           "Output: a line per frame and a total on standard output; warnings, errors and the\n"
           "progress bar on standard error. What the plug-in prints to its console is shown on\n"
           "standard error as whole lines starting with \"plug-in: \".\n"
           "Every frame's line gives its time and its outcome, one of\n"
           "  processed    the output differs from the input and is not a failure overlay\n"
           "  unchanged    the output equals the input\n"
           "  overlay      the plug-in drew its failure message onto the input frame (told from the\n"
           "               frame: equal to the input outside the message's band); the message is\n"
           "               named when redrawing it from the log reproduces the output exactly.\n"
           "               The file is written marked: PNG text / EXR attribute\n"
           "               \"tev-host verdict\" = \"overlay\"; --skip-existing renders it again\n"
           "  failed       the render returned an error, or a file could not be read or written\n"
           "  aborted      stopped by a signal or a write error: cancelled and not written\n"
           "  skipped      --skip-existing: the output file was there\n"
           "  not started  the run stopped before this frame (summary and report only)\n"
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
           // One line and a paragraph each: the manual page joins the lines of a
           // paragraph, and takes a line that starts with "--" for an option.
           "examples:\n"
           "  tev-host render ExamplePlugin.so --in shot/plate_%04d.exr --out out/ --set Brightness=1.2 --threads 2\n"
           "\n"
           "  tev-host render ExamplePlugin.so --in plates/ --out graded/ --frames 1001- --skip-existing\n"
           "\n"
           "  tev-host render ExamplePlugin.so --in rgba_0001.png --out o_%04d.png --alpha input --report -\n"
           "\n"
           "  tev-host render ExamplePlugin.so --in shot/%04d.exr --out out/%04d.exr --chunk 3/8 --report r3.jsonl\n"
           "\n"
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
        const OptionSpec* option = findOption(optionTable(), a.rfind("--", 0) == 0 ? name : a);
        if (!option) throw std::invalid_argument("unknown option '" + name + "'");
        std::string value;
        if (option->value_name) {
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
        if (option->at_once && (!answer || option < answer)) answer = option;
        given.emplace_back(option, value);
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
    for (const auto& [option, value] : given) {
        if (option->commands != kAnyCommand && !(option->commands & this_command)) {
            throw std::invalid_argument(std::string("option ") + option->name + " is not for '" + command + "'");
        }
        option->apply(o, option->name, value);
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
