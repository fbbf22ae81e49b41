// What a server's reply says, read the way the plug-in's client reads it.
#pragma once

#include <string>

#include "TEV.h"

namespace TEV {
namespace Conform {

// A "get_result" reply, classified.
enum class PollAnswer {
    Pending,      // {"result": {"result": "no_result_found"}}
    BareMarker,   // {"result": "no_result_found"}: the client takes this as the job's result
    Result,       // any other "result": the job is done
    Error,        // an "error" text (checked before "result", as the client does)
    Nothing,      // neither "result" nor "error": the client keeps waiting
};

PollAnswer classifyPoll(const Dict& reply);

// True when `reply` is a map with an "error" String, even an empty one.
bool hasErrorEntry(const Dict& reply);
// The "error" String of a map reply ("" when there is none).
std::string errorText(const Dict& reply);

// True when `reply` is {"status": "queued"} without "result" or "error".
bool isQueued(const Dict& reply);

// A short rendering of a reply for a report: maps and arrays in braces,
// strings quoted and cut, byte strings as their length, images as their
// geometry, at most `max_chars` characters.
std::string brief(const Dict& value, std::size_t max_chars = 120);

}  // namespace Conform
}  // namespace TEV
