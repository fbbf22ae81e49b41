#include "command/OptionTable.h"

namespace TEV::Host::Cli {

namespace {

constexpr std::size_t kHelpColumn = 22;

}  // namespace

const OptionSpec* findOption(const OptionTable& table, const std::string& name) {
    for (const OptionSpec& spec : table) {
        if (name == spec.name || (spec.alias && name == spec.alias)) return &spec;
    }
    return nullptr;
}

std::string optionHelp(const OptionTable& table, unsigned commands) {
    std::string text;
    for (const OptionSpec& spec : table) {
        if (!*spec.help || !(spec.commands & commands)) continue;
        std::string line = std::string("  ") + spec.name;
        if (spec.value_name) line += std::string(" ") + spec.value_name;
        line += line.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - line.size(), ' ') : std::string(2, ' ');
        for (const char* c = spec.help; *c; ++c) {
            line += *c;
            if (*c == '\n') line += std::string(kHelpColumn, ' ');
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace TEV::Host::Cli
