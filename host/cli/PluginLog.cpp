#include "PluginLog.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace TEV::Host::Cli {

namespace {

// "2024-05-01 12:34:56 " at the start of a line.
bool hasStamp(const std::string& line) {
    static const char kShape[] = "dddd-dd-dd dd:dd:dd ";
    if (line.size() < sizeof kShape - 1) return false;
    for (std::size_t i = 0; i + 1 < sizeof kShape; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return false;
    }
    return true;
}

}  // namespace

PluginLog::PluginLog(std::string path) : path_(std::move(path)) {}

std::uint64_t PluginLog::size() const {
    std::error_code ec;
    const std::uintmax_t n = std::filesystem::file_size(path_, ec);
    return ec ? 0 : n;
}

std::vector<std::string> PluginLog::messagesSince(std::uint64_t offset) const {
    std::vector<std::string> messages;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return messages;
    if (offset > size()) offset = 0;
    in.seekg(static_cast<std::streamoff>(offset));
    std::string line;
    while (std::getline(in, line)) {
        if (hasStamp(line)) {
            messages.push_back(line.substr(20));
        } else if (!messages.empty()) {
            messages.back() += "\n" + line;
        }
    }
    return messages;
}

}  // namespace TEV::Host::Cli
