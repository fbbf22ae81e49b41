// Reading replies as the client does, and showing them briefly.
#include "Replies.h"

#include <cstdio>

#include "Text.h"

namespace TEV {
namespace Conform {

namespace {

const char* const kPendingMarker = "no_result_found";

bool isString(const Dict& d, const char* text) {
    return d.type == Dict::String && std::get<std::string>(d.value) == text;
}

std::string number(double v) {
    char out[32];
    std::snprintf(out, sizeof out, "%g", v);
    return out;
}

void render(const Dict& d, std::string& out, int depth) {
    if (depth > 4) {
        out += "...";
        return;
    }
    switch (d.type) {
        case Dict::Null: out += "null"; return;
        case Dict::Bool: out += std::get<bool>(d.value) ? "true" : "false"; return;
        case Dict::Int: out += std::to_string(std::get<long long>(d.value)); return;
        case Dict::Float: out += number(std::get<double>(d.value)); return;
        case Dict::String: out += quoted(std::get<std::string>(d.value), 60); return;
        case Dict::Bytes: out += "<" + std::to_string(std::get<std::vector<char>>(d.value).size()) + " bytes>"; return;
        case Dict::Array: {
            out += "[";
            const auto& items = std::get<std::vector<Dict>>(d.value);
            for (std::size_t i = 0; i < items.size() && out.size() < 400; ++i) {
                if (i) out += ", ";
                render(items[i], out, depth + 1);
            }
            out += "]";
            return;
        }
        case Dict::Map: {
            if (d.isImage()) {
                out += "<image " + std::to_string(d.getInt("width", 0)) + "x" + std::to_string(d.getInt("height", 0)) +
                       "x" + std::to_string(d.getInt("channels", 0)) + " at " +
                       std::to_string(d.getInt("bit_depth", 0)) + " bits>";
                return;
            }
            out += "{";
            bool first = true;
            for (const auto& entry : std::get<std::map<std::string, Dict>>(d.value)) {
                if (out.size() >= 400) break;
                if (!first) out += ", ";
                first = false;
                out += quoted(entry.first, 30) + ": ";
                render(entry.second, out, depth + 1);
            }
            out += "}";
            return;
        }
    }
}

}  // namespace

PollAnswer classifyPoll(const Dict& reply) {
    if (!errorText(reply).empty()) return PollAnswer::Error;
    if (!reply.contains("result")) return PollAnswer::Nothing;
    const Dict& result = reply.get("result");
    if (isString(result, kPendingMarker)) return PollAnswer::BareMarker;
    if (isString(result.get("result"), kPendingMarker)) return PollAnswer::Pending;
    return PollAnswer::Result;
}

bool hasErrorEntry(const Dict& reply) { return reply.get("error").type == Dict::String; }

std::string errorText(const Dict& reply) { return reply.getString("error", ""); }

bool isQueued(const Dict& reply) {
    return isString(reply.get("status"), "queued") && !reply.contains("result") && !reply.contains("error");
}

std::string brief(const Dict& value, std::size_t max_chars) {
    std::string out;
    render(value, out, 0);
    if (out.size() > max_chars) out = out.substr(0, max_chars) + "...";
    return out;
}

}  // namespace Conform
}  // namespace TEV
