// Texts that come from a server, made safe to show: a server's words reach a
// terminal and a JSON document, so nothing in them may act as a control
// sequence or break the document.
#pragma once

#include <cstddef>
#include <string>

namespace TEV {
namespace Conform {

// The offset of the first byte of `text` that is not part of well-formed
// UTF-8, or std::string::npos when all of it is.
std::size_t firstBadUtf8(const std::string& text);

// `text` in double quotes, cut to `max_chars` characters (with "..."), for a
// report's "got" part; control characters and stray bytes appear escaped.
std::string quoted(const std::string& text, std::size_t max_chars = 100);

// `text` with control characters written as \n, \t or \xNN and bytes that are
// not UTF-8 as \xNN: printable on a terminal, nothing else changed.
std::string printable(const std::string& text);

}  // namespace Conform
}  // namespace TEV
