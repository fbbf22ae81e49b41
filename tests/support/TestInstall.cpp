// The server install inside the build's maker folder, as tests arrange it.
#include "TestInstall.h"

#include <algorithm>
#include <filesystem>

#include "FakeServer.h"

namespace fs = std::filesystem;

namespace TEV {
namespace Test {

bool makerFolderIsScratch() {
    const fs::path maker = fs::weakly_canonical(kMakerFolder);
    const fs::path build = fs::weakly_canonical(kBuildDir);
    const auto mismatch = std::mismatch(build.begin(), build.end(), maker.begin(), maker.end());
    return mismatch.first == build.end() && maker != build;
}

std::string serverRoot() { return std::string(kMakerFolder) + "/TEVORA"; }
std::string serverDirectory() { return serverRoot() + "/Server"; }
std::string serverExecutable() { return std::string(kMakerFolder) + "/Render Engine/Python 3.10/bin/TEVORA Server"; }
std::string logFolder() { return std::string(kMakerFolder) + "/Logs"; }
std::string launcherLog() { return logFolder() + "/launcher.log"; }

void removeServerInstall() {
    fs::remove_all(serverRoot());
    fs::remove_all(std::string(kMakerFolder) + "/Render Engine");
}

void installFakeRuntime() {
    fs::create_directories(serverDirectory());
    fs::create_directories(fs::path(serverExecutable()).parent_path());
    fs::copy_file(kFakeRuntime, serverExecutable(), fs::copy_options::overwrite_existing);
}

}  // namespace Test
}  // namespace TEV
