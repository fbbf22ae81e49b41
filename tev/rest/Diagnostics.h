// Diagnostic lines of the server link on standard output.
#pragma once

#include <string>

namespace TEV {
namespace Rest {
namespace detail {

// Writes `line` and a line feed to std::cout as one piece, then flushes.
void printLine(const std::string& line);
// printLine("[TEV] " + text).
void say(const std::string& text);
// The system's text for an error number (thread-safe).
std::string errnoText(int error);

}  // namespace detail
}  // namespace Rest
}  // namespace TEV
