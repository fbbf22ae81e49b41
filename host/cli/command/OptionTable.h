// A command line's options as one table: each option's spelling, the value it
// takes, the commands it is for, its help text and what it does to the
// options record. Parsing and the help text (and the manual page made from
// it) are both read from the table, so an option cannot be documented in one
// place and handled differently in another.
#pragma once

#include <string>
#include <vector>

namespace TEV::Host::Cli {

struct CliOptions;

// The commands an option is for, as a mask; kAnyCommand: every command.
constexpr unsigned kAnyCommand = 0, kRenderCommand = 1, kMergeCommand = 2, kParamsCommand = 4;

struct OptionSpec {
    const char* name;        // "--depth"
    const char* alias;       // a one-dash spelling ("-h"), taken only whole; nullptr: none
    const char* value_name;  // the value as the help shows it ("8|16|32"); nullptr: a switch, which takes none
    unsigned commands;       // kAnyCommand, or a mask of the commands it is for
    bool at_once;            // answered wherever it stands, whatever else the line holds (--help, --version)
    // Help lines after the option, '\n' between them; "": not listed (the synopsis shows it).
    const char* help;
    // Applies the option to the record; `name` is its spelling, for error
    // messages, `value` "" for a switch. Throws std::invalid_argument for a
    // value it cannot take.
    void (*apply)(CliOptions& options, const std::string& name, const std::string& value);
};

using OptionTable = std::vector<OptionSpec>;

// The option spelled `name` (its "--" name, or its alias), or nullptr.
const OptionSpec* findOption(const OptionTable& table, const std::string& name);

// The listed options (those with help) of any command in the mask
// `commands`, in table order: "  --name VALUE", its help from column 22
// (or two spaces after a longer name: the manual page's maker needs two to
// tell the option from its help), further help lines at that column.
std::string optionHelp(const OptionTable& table, unsigned commands);

}  // namespace TEV::Host::Cli
