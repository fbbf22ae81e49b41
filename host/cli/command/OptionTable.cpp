#include "command/OptionTable.h"

namespace TEV::Host::Cli {

namespace {

constexpr std::size_t kHelpColumn = 22;

}  // namespace

const OptionSpec* findOption(const OptionTable& table, const std::string& name) {
    for (const OptionSpec& option : table) {
        if (name == option.name || (option.alias && name == option.alias)) return &option;
    }
    return nullptr;
}

std::string optionHelp(const OptionTable& table, unsigned commands) {
    std::string text;
    for (const OptionSpec& option : table) {
        if (!*option.help || !(option.commands & commands)) continue;
        std::string line = std::string("  ") + option.name;
        if (option.value_name) line += std::string(" ") + option.value_name;
        line += line.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - line.size(), ' ') : std::string(2, ' ');
        for (const char* c = option.help; *c; ++c) {
            line += *c;
            if (*c == '\n') line += std::string(kHelpColumn, ' ');
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace TEV::Host::Cli
