// Command line of tev-host, parsed into one record.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace TEV::Host::Cli {

enum class Action { Help, Params, Render };

struct CliOptions {
    Action action = Action::Help;
    std::string plugin;
    // render: an image file, a numbered pattern ("frame_%04d.png") or a directory each.
    std::string input, output;
    int depth = 0;              // render bits per channel; 0: from the first input file
    int png_bits = 0;           // bits of written PNG files; 0: 8 for 8-bit renders, else 16
    int frame = 0;              // frame number of a single image (sequences use their own)
    int first_frame = -1;       // --frames A-B: only numbers in [A, B]; -1: no bound
    int last_frame = -1;
    int downsample = 1;         // render at 1/N of the size, as a host's preview
    unsigned threads = 1;       // frames rendered at once
    unsigned iterate_threads = 0;  // the host's pixel iteration threads, 0: automatic
    bool reconnect = false;     // press the plug-in's Reconnect button first
    std::string log_file;       // the plug-in's log; "" picks the build's default
    bool no_progress = false;   // --no-progress: never draw the progress bar
    bool progress_bar = false;  // draw a progress bar on stderr (main sets it for a terminal)
    bool premiere = false;      // imitate the other host
    bool books = false;         // print the books report
    std::vector<std::pair<std::string, std::string>> set;  // NAME=VALUE, in order
};

// The usage text printed by --help.
std::string usage();

// Parses argv. Throws std::invalid_argument with a one-line reason for a bad
// command line.
CliOptions parseCommandLine(int argc, char** argv);

}  // namespace TEV::Host::Cli
