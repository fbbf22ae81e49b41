// Install locations of the server, its runtime and the logs. All of them lie
// in the build's fixed maker folder.
#include <filesystem>

#include "Diagnostics.h"
#include "RestClient.h"
#include "TEVLocations.h"

namespace TEV {

namespace {

// The path itself, after saying so when it does not exist.
std::string reportIfMissing(std::string path) {
    if (!std::filesystem::exists(path)) Rest::detail::say("path not found: " + path);
    return path;
}

}  // namespace

std::string GetTEVRoot() { return reportIfMissing(std::string(TEV_MAKER_FOLDER) + "/TEVORA"); }

std::string GetRenderEngineRoot() { return std::string(TEV_MAKER_FOLDER) + "/Render Engine/Python 3.10"; }

std::string GetTEVServerExe() { return reportIfMissing(GetRenderEngineRoot() + "/bin/TEVORA Server"); }

std::string GetUserAppFolder(std::string sub) {
    const std::string path = std::string(TEV_MAKER_FOLDER) + "/" + sub;
    if (!std::filesystem::exists(path)) std::filesystem::create_directories(path);
    return path;
}

}  // namespace TEV
