#include "report/FrameRecord.h"

#include <climits>
#include <cmath>

namespace TEV::Host::Cli {

namespace {

using JsonText::Json;

double milliseconds(double seconds) { return std::round(seconds * 1000) / 1000; }

std::string text(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::string toJsonLine(const FrameRecord& r) {
    Json line = {{"frame", r.frame},        {"input", r.input},     {"output", r.output},
                 {"seconds", milliseconds(r.seconds)}, {"verdict", r.verdict}, {"message", r.message}};
    if (r.made_us) {
        line["made_us"] = r.made_us;
        line["sequence"] = r.sequence;
    }
    return JsonText::dump(line);
}

std::optional<FrameRecord> frameRecordOf(const Json& object) {
    const auto frame = object.find("frame");
    const auto verdict = object.find("verdict");
    if (frame == object.end() || !frame->is_number_integer() || verdict == object.end() || !verdict->is_string()) {
        return std::nullopt;
    }
    const auto number = frame->get<std::int64_t>();
    if (number < INT_MIN || number > INT_MAX) return std::nullopt;
    FrameRecord r;
    r.frame = static_cast<int>(number);
    r.verdict = verdict->get<std::string>();
    r.input = text(object, "input");
    r.output = text(object, "output");
    r.message = text(object, "message");
    if (const auto s = object.find("seconds"); s != object.end() && s->is_number()) r.seconds = s->get<double>();
    const auto made = object.find("made_us");
    const auto sequence = object.find("sequence");
    if (made != object.end() && made->is_number_integer() && sequence != object.end() &&
        sequence->is_number_unsigned()) {
        r.made_us = made->get<std::int64_t>();
        r.sequence = sequence->get<std::uint64_t>();
    }
    return r;
}

std::string summaryJsonLine(const StateCounts& counts, double seconds, int exit_status) {
    Json summary = {{"frames", counts.frames()}};
    for (FrameState s : kFrameStates) {
        summary[s == FrameState::NotStarted ? "not_started" : stateName(s)] = counts[s];
    }
    summary["missing"] = counts.missing;
    summary["seconds"] = milliseconds(seconds);
    summary["exit_status"] = exit_status;
    return JsonText::dump(Json{{"summary", summary}});
}

}  // namespace TEV::Host::Cli
