#include "run/KnownPlugin.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
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

// The server no longer knows the job: it was restarted while the job ran.
bool lostJob(const std::string& text) { return text.find("no job with request id") != std::string::npos; }

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
        if (code == TEV::TEVErr_StringMap.at(TEV::ConnectionFailed)) continue;  // always a candidate
        const std::string body = message.substr(code.size() + 2);
        const bool outage = code == TEV::TEVErr_StringMap.at(TEV::TimeoutExceeded) ||
                            code == TEV::TEVErr_StringMap.at(TEV::CouldNotCreateConnection) || lostJob(body);
        addUnique(list, {UserTexts::kLibraryError, body, "", outage});
        for (std::size_t dot = body.find(". "); dot != std::string::npos; dot = body.find(". ", dot + 1)) {
            addUnique(list, {UserTexts::kLibraryError, body.substr(0, dot), body.substr(dot + 2), outage});
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
    std::vector<OverlayText> list{
        {UserTexts::kCantConnect, UserTexts::kStartOrRestart, UserTexts::kClickReconnect, true},
        {UserTexts::kCantConnect, UserTexts::kStartOrRestart, UserTexts::kClickReconnectAfterFailure, true}};
    for (const std::string& message : log_messages) {
        if (startsWith(message, UserTexts::kRenderLibraryErrorPrefix)) {
            addLibraryError(list, message.substr(sizeof UserTexts::kRenderLibraryErrorPrefix - 1));
        } else if (startsWith(message, UserTexts::kRenderErrorPrefix)) {
            const std::string text = message.substr(sizeof UserTexts::kRenderErrorPrefix - 1);
            addUnique(list, {UserTexts::kServerError, text, UserTexts::kViewLogs, lostJob(text)});
            addUnique(list, {UserTexts::kGenericError, text, UserTexts::kViewLogs, lostJob(text)});
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

namespace {

// "folder '/opt/VRAL/Logs' (drwxr-xr-x, owner root)".
std::string describeEntry(const char* what, const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::string(what) + " '" + path + "' (" + std::strerror(errno) + ")";
    char mode[11] = "----------";
    if (S_ISDIR(st.st_mode)) mode[0] = 'd';
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        if (st.st_mode & (0400 >> i)) mode[i + 1] = letters[i];
    }
    const struct passwd* owner = ::getpwuid(st.st_uid);
    return std::string(what) + " '" + path + "' (" + mode + ", owner " +
           (owner ? std::string(owner->pw_name) : std::to_string(st.st_uid)) + ")";
}

// The nearest existing folder at or above `path`.
std::string existingAncestor(std::filesystem::path path) {
    std::error_code ec;
    while (!path.empty() && !std::filesystem::exists(path, ec) && path != path.root_path()) path = path.parent_path();
    return path.empty() ? "." : path.string();
}

// The group whose users all append to the logs in `folder`: the folder's own
// group, unless that is root's (a folder made by hand), then the build's
// render group.
std::string renderGroup(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && st.st_gid != 0) {
        if (const struct group* g = ::getgrgid(st.st_gid)) return g->gr_name;
    }
    return TEV_RENDER_GROUP;
}

// " && sudo usermod -aG GROUP USER (then log in again)" when this user is not
// in `group`, "" when it is.
std::string joinGroup(const std::string& group) {
    const struct group* g = ::getgrnam(group.c_str());
    if (g) {
        if (::getegid() == g->gr_gid) return "";
        std::vector<gid_t> mine(std::max(::getgroups(0, nullptr), 0));
        const int n = ::getgroups(static_cast<int>(mine.size()), mine.data());
        for (int i = 0; i < n; ++i) {
            if (mine[i] == g->gr_gid) return "";
        }
    }
    const struct passwd* me = ::getpwuid(::geteuid());
    const std::string user = me ? me->pw_name : std::to_string(::geteuid());
    return " && sudo usermod -aG " + group + " " + user + " (then log in again)";
}

// The commands that give the render group the log folder and its files: the
// folder group-writable with the set-group-id bit (new files take its group),
// every file group-writable. Never world-writable.
std::string groupFix(const std::string& folder, bool create) {
    const std::string group = renderGroup(create ? existingAncestor(folder) : folder);
    const std::string quoted = "'" + folder + "'";
    std::string fix = "fix with: ";
    if (create) fix += "sudo mkdir -p " + quoted + " && ";
    fix += "sudo chgrp -R " + group + " " + quoted + " && sudo chmod 2775 " + quoted;
    if (!create) fix += " && sudo chmod g+rw " + quoted + "/*";
    return fix + joinGroup(group);
}

}  // namespace

std::string logProblem(const PluginLog& log, const std::string& default_path) {
    const std::string& path = log.path();
    const std::string folder = std::filesystem::path(path).parent_path().string();
    std::error_code ec;
    const std::string shown_folder = folder.empty() ? "." : folder;
    if (std::filesystem::exists(path, ec)) {
        if (::access(path.c_str(), R_OK) != 0) {
            return "cannot read the plug-in's log: " + describeEntry("file", path) + "; " + groupFix(shown_folder, false);
        }
        // Appending needs the file, rotating it the folder.
        if (::access(path.c_str(), W_OK) != 0 || ::access(shown_folder.c_str(), W_OK | X_OK) != 0) {
            return "the plug-in cannot write its log: " + describeEntry("file", path) + " in " +
                   describeEntry("folder", shown_folder) + "; " + groupFix(shown_folder, false);
        }
        return "";
    }
    if (path != default_path) {
        return "the log '" + path + "' does not exist (the plug-in logs to '" + default_path + "')";
    }
    // The plug-in creates the file, and the folder, on its first line.
    const std::string parent = existingAncestor(folder.empty() ? "." : folder);
    if (::access(parent.c_str(), W_OK | X_OK) != 0) {
        return "the plug-in cannot create its log '" + path + "': " + describeEntry("folder", parent) +
               " is not writable by this user; " + groupFix(folder, true);
    }
    return "";
}

bool hasReconnectButton(const HeadlessHost& host) {
    for (const ParamInfo& p : host.params()) {
        if (p.type == PF_Param_BUTTON && p.label == UserTexts::kReconnectLabel) return true;
    }
    return false;
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
