// The server install inside the build's maker folder, as tests arrange it.
// The paths are spelled out here independently of the client library, so
// that tests check the library's paths instead of reusing them.
#pragma once

#include <string>

namespace TEV {
namespace Test {

// True when the maker folder lies inside the build tree, so that tests may
// change it without touching a real install.
bool makerFolderIsScratch();

std::string serverRoot();        // <maker>/TEVORA
std::string serverDirectory();   // <maker>/TEVORA/Server
std::string serverExecutable();  // <maker>/Render Engine/Python 3.10/bin/TEVORA Server
std::string logFolder();         // <maker>/Logs
std::string launcherLog();       // <maker>/Logs/launcher.log

// Removes the server install (TEVORA and "Render Engine"); keeps Logs.
void removeServerInstall();
// Creates the server directory and copies the fake runtime to the server
// executable's path.
void installFakeRuntime();

}  // namespace Test
}  // namespace TEV
