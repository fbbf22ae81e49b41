// The plug-in's log file and debug output.
//
// Each spdlog_log call is self-contained: it echoes the message to standard
// output, then opens the log, appends one line and closes it again, so no
// logger outlives the call. Lines read "YYYY-mm-dd HH:MM:SS <message>" in
// local time; the message is written verbatim (braces stay braces). The file
// rotates before a line would take it past 3 MiB, keeping five rotated files
// (<name>.1<ext> newest .. <name>.5<ext> oldest). Concurrent calls in one
// process take turns, so every line reaches the file. The file is opened
// close-on-exec: a process the plug-in launches does not inherit it.
#pragma once

#include <cstddef>
#include <sstream>
#include <string>

// Size past which the log file rotates, and how many rotated files are kept.
constexpr std::size_t kLogMaxFileSize = 3145728;
constexpr std::size_t kLogMaxFiles = 5;

// The name says spdlog although callers only rely on what it does: the
// plug-in's sibling effects and their tools call it by this name.
// Logs message.str() to log_file (folder created when missing). A failure of
// the log itself (folder or file not writable, rotation failed) is printed
// to standard output as "Log failed: <reason>" and never reaches the caller.
void spdlog_log(std::stringstream message, std::string log_file);
// Logs `message` to log_file; failures as above.
void spdlog_log(std::string message, std::string log_file);

// Writes `text` to standard output, no line break added. Named after the
// platform call it stands in for; shared code calls it by that name.
void OutputDebugString(const char* text);
void OutputDebugString(const std::string& text);
// Always false: the plug-in has no debug mode.
bool IsDebug();
