// The plug-in's log file as it grows during a render.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TEV::Host::Cli {

class PluginLog {
public:
    explicit PluginLog(std::string path);

    const std::string& path() const { return path_; }
    // The file's size now; 0 when it does not exist.
    std::uint64_t size() const;
    // The messages of the records written from byte `offset` to the end, with
    // their "YYYY-MM-DD HH:MM:SS " stamps removed; a line without a stamp
    // continues the record before it. A file now shorter than `offset` has
    // rotated: it is read from its start. Empty when it cannot be read.
    std::vector<std::string> messagesSince(std::uint64_t offset) const;

private:
    std::string path_;
};

}  // namespace TEV::Host::Cli
