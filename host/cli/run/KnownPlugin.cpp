#include "run/KnownPlugin.h"

#include <cctype>
#include <filesystem>
#include <fstream>

#include "TEV.h"
#include "TEVLocations.h"
#include "UserTexts.h"

namespace TEV::Host::Cli {

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

void addUnique(std::vector<OverlayText>& list, OverlayText text) {
    for (const OverlayText& t : list) {
        if (t == text) return;
    }
    list.push_back(std::move(text));
}

// "<code text>: <detail>[. <context>]" back into (detail, context) pairs; a
// ". " inside the detail makes the split ambiguous, so every split is offered.
void addLibraryError(std::vector<OverlayText>& list, const std::string& message) {
    std::vector<std::string> codes{"TEV Unknown error"};
    for (const auto& [type, text] : TEV::TEVErr_StringMap) codes.push_back(text);
    for (const std::string& code : codes) {
        if (!startsWith(message, code + ": ")) continue;
        if (code == TEV::TEVErr_StringMap.at(TEV::ConnectionFailed)) {
            addUnique(list,
                      {UserTexts::kCantConnect, UserTexts::kStartOrRestart, UserTexts::kClickReconnectAfterFailure});
            continue;
        }
        const std::string body = message.substr(code.size() + 2);
        addUnique(list, {UserTexts::kLibraryError, body, ""});
        for (std::size_t dot = body.find(". "); dot != std::string::npos; dot = body.find(". ", dot + 1)) {
            addUnique(list, {UserTexts::kLibraryError, body.substr(0, dot), body.substr(dot + 2)});
        }
    }
}

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

std::string OverlayText::summary() const {
    std::string s;
    for (const std::string* line : {&line1, &line2, &line3}) {
        if (line->empty()) continue;
        s += (s.empty() ? "" : " / ") + *line;
    }
    return s;
}

std::vector<OverlayText> overlayCandidates(const std::vector<std::string>& log_messages) {
    std::vector<OverlayText> list{{UserTexts::kCantConnect, UserTexts::kStartOrRestart, UserTexts::kClickReconnect}};
    for (const std::string& message : log_messages) {
        if (startsWith(message, UserTexts::kRenderLibraryErrorPrefix)) {
            addLibraryError(list, message.substr(sizeof UserTexts::kRenderLibraryErrorPrefix - 1));
        } else if (startsWith(message, UserTexts::kRenderErrorPrefix)) {
            const std::string text = message.substr(sizeof UserTexts::kRenderErrorPrefix - 1);
            addUnique(list, {UserTexts::kServerError, text, UserTexts::kViewLogs});
            addUnique(list, {UserTexts::kGenericError, text, UserTexts::kViewLogs});
            // A reply without result or error text is drawn with an empty second line.
            addUnique(list, {UserTexts::kServerError, "", UserTexts::kViewLogs});
        }
    }
    return list;
}

bool isRenderFailure(const std::string& log_message) {
    return startsWith(log_message, UserTexts::kRenderLibraryErrorPrefix) ||
           startsWith(log_message, UserTexts::kRenderErrorPrefix);
}

std::string defaultLogFile(const std::string& plugin_path) {
    return std::string(TEV_MAKER_FOLDER) + "/Logs/" + std::filesystem::path(plugin_path).stem().string() +
           UserTexts::kLogFileSuffix;
}

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

void pressReconnect(HeadlessHost& host, InstanceId inst) {
    for (const ParamInfo& p : host.params()) {
        if (p.type == PF_Param_BUTTON && p.label == UserTexts::kReconnectLabel) {
            host.userChangedParam(inst, p.index).expectOk();
            return;
        }
    }
    throw HostError("the plug-in has no Reconnect button");
}

}  // namespace TEV::Host::Cli
