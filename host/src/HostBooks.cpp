// The books snapshot and the report of what does not balance.
#include <set>

#include "HostImpl.h"

namespace TEV::Host {

long Books::suitesOutstanding() const {
    long n = 0;
    for (const auto& [id, count] : suites) {
        n += count.acquired - count.released;
    }
    return n;
}

Books HeadlessHost::books() const {
    return impl_->books.with([](const Books& b) { return b; });
}

std::vector<std::string> HeadlessHost::unbalanced() const {
    const Impl& h = *impl_;
    // Handles the host holds for the plug-in are not leaks yet.
    std::set<PF_Handle> held;
    if (h.globally_set_up && h.global_data) {
        held.insert(h.global_data);
    }
    for (const auto& [id, inst] : h.instances) {
        if (inst->sequence_data) {
            held.insert(inst->sequence_data);
        }
    }
    std::vector<std::string> out;
    long leaked = 0;
    A_u_longlong leaked_bytes = 0;
    for (const auto& [handle, size] : liveHandles(&h)) {
        if (!held.count(handle)) {
            ++leaked;
            leaked_bytes += size;
        }
    }
    if (leaked) {
        out.push_back(std::to_string(leaked) + " handle(s) not disposed (" + std::to_string(leaked_bytes) +
                      " bytes)");
    }

    const Books b = books();
    for (const auto& [id, count] : b.suites) {
        if (count.acquired != count.released) {
            out.push_back("suite \"" + id.first + "\" version " + std::to_string(id.second) + " acquired " +
                          std::to_string(count.acquired) + " time(s), released " +
                          std::to_string(count.released));
        }
    }
    auto pair = [&out](const char* what, long made, long undone, const char* verb) {
        if (made != undone) {
            out.push_back(std::string(what) + ": " + std::to_string(made) + " vs " + std::to_string(undone) +
                          " " + verb);
        }
    };
    pair("parameters checked out", b.params_checked_out, b.params_checked_in, "checked in");
    pair("pre-render data handed out", b.pre_render_data_handed_out, b.pre_render_data_freed,
         "freed through the delete callback");
    pair("frames set up", b.frames_set_up, b.frames_set_down, "set down");
    pair("effect references made", b.effect_refs_made, b.effect_refs_disposed, "disposed");
    pair("stream references made", b.stream_refs_made, b.stream_refs_disposed, "disposed");
    pair("stream values made", b.stream_values_made, b.stream_values_disposed, "disposed");
    pair("worlds made", b.worlds_made, b.worlds_disposed, "disposed");
    pair("memory blocks allocated", b.blocks_allocated, b.blocks_freed, "freed");
    for (const std::string& m : b.misuse) {
        out.push_back("misuse: " + m);
    }
    return out;
}

}  // namespace TEV::Host
