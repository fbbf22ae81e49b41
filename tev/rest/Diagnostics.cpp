// Diagnostic lines of the server link on standard output.
#include "Diagnostics.h"

#include <cstring>
#include <iostream>

namespace TEV {
namespace Rest {
namespace detail {

namespace {
// strerror_r comes in two flavours: the GNU one returns the text, the XSI
// one fills the buffer and returns an int.
[[maybe_unused]] const char* pickText(const char* text, const char*) { return text; }
[[maybe_unused]] const char* pickText(int, const char* buffer) { return buffer; }
}  // namespace

void printLine(const std::string& line) {
    // One write per line keeps lines of concurrent threads whole.
    std::cout << (line + '\n') << std::flush;
}

void say(const std::string& text) { printLine("[TEV] " + text); }

std::string errnoText(int error) {
    char buffer[256] = {0};
    return pickText(strerror_r(error, buffer, sizeof buffer), buffer);
}

}  // namespace detail
}  // namespace Rest
}  // namespace TEV
