// Command line of tev-host, parsed into one record.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "command/OptionTable.h"
#include "frames/FrameChunk.h"
#include "frames/FrameList.h"

namespace TEV::Host::Cli {

enum class Action { Help, Version, Params, Render, Merge };

// How the alpha channel of written files is made.
enum class AlphaSource {
    Effect,  // the effect's output alpha: opaque, as the effect returns opaque pixels
    Input,   // each input pixel's alpha
};

// --threads beyond this is refused: every frame in flight holds its images in
// memory, and the machines this runs on have far fewer cores.
constexpr unsigned kMaxThreads = 64;

struct CliOptions {
    Action action = Action::Help;
    std::string plugin;
    // render: an image file, a numbered pattern ("frame_%04d.png") or a directory each.
    std::string input, output;
    int depth = 0;              // render bits per channel; 0: each input file's own
    int png_bits = 0;           // bits of written PNG files; 0: 8 for 8-bit renders, else 16
    int png_level = 1;          // compression level of written PNG files, 0 to 9
    int frame = -1;             // frame number of a single image; -1: the number in its name, else 0
    int first_frame = -1;       // --frames A-B: only numbers in [A, B]; -1: no bound
    int last_frame = -1;        // -1 with first_frame set: open range "A-"
    int frame_step = 1;         // --frames A-BxS: every S-th number from A
    int downsample = 1;         // render at 1/N of the size, as a host's preview
    unsigned threads = 1;       // frames rendered at once, 1 to kMaxThreads
    Numbering numbering = Numbering::FromNames;  // --number-by-name: ByNameOrder
    unsigned iterate_threads = 0;  // the host's pixel iteration threads, 0: automatic
    bool reconnect = false;     // press the plug-in's Reconnect button first
    int retries = 3;            // renders again of a frame that met an outage, after Reconnect
    double retry_pause = 5;     // seconds before the first of them; doubled for each next one
    std::string log_file;       // the plug-in's log; "" picks the build's default
    bool no_progress = false;   // --no-progress: never draw the progress bar
    bool progress_bar = false;  // draw a progress bar on stderr (main sets it for a terminal)
    int columns = 0;            // width of the terminal the bar is drawn on; 0: unknown
    bool premiere = false;      // imitate the other host
    bool books = false;         // print the books report
    bool skip_existing = false; // leave frames whose output file exists
    AlphaSource alpha = AlphaSource::Effect;
    bool exr_float = false;     // EXR outputs in 32-bit float even from half inputs
    std::string exr_compression;  // EXR outputs: a compression name; "" keeps the input's
    std::string layer;          // EXR input: the layer whose channels are read ("" the unnamed one)
    std::string report_file;    // JSON Lines, one record per frame; "-" standard output
    std::vector<std::pair<std::string, std::string>> set;  // NAME=VALUE, in order
    Chunk chunk;                // --chunk K/N: only the K-th of N parts of the frame list
    bool dry_run = false;       // --dry-run: list the frames and try the output folders, render nothing
    std::vector<std::string> reports;  // merge: report files and folders of them, in order
};

// tev-host's options, in the order --help lists them: what parseCommandLine
// accepts and what usage() says of each.
const OptionTable& optionTable();

// The usage text printed by --help.
std::string usage();
// The one-line text printed by --version.
std::string versionText();

// Parses argv the GNU way: options anywhere, "--opt value" or "--opt=value",
// "--" ends the options. Throws std::invalid_argument with a one-line reason
// for a bad command line.
CliOptions parseCommandLine(int argc, char** argv);

// The folder of the installed plug-ins: <prefix>/lib/tev-bridge beside
// tev-host's <prefix>/bin (in the build tree, <build>/host/lib/tev-bridge).
// HostError when the program's own path cannot be read.
std::string installedPluginFolder();

// The path to load for a plug-in named on the command line. A name with a
// slash is used as given (./NAME for one in the current folder); a name
// without one is an installed plug-in, looked up in installedPluginFolder()
// only: never in the current folder, which others may write to (a shared
// submission folder), nor on the library path. HostError naming where it
// looked when there is none.
std::string pluginLoadPath(const std::string& name);

}  // namespace TEV::Host::Cli
