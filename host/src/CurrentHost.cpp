// Finding the host from callbacks that carry no context (the basic suite,
// handle functions, AEGP registration).
#include <mutex>
#include <set>
#include <string>

#include "HostImpl.h"

namespace TEV::Host {

namespace {

thread_local HeadlessHost::Impl* t_current = nullptr;

std::mutex& liveMutex() {
    static std::mutex m;
    return m;
}
std::set<HeadlessHost::Impl*>& liveHosts() {
    static std::set<HeadlessHost::Impl*> hosts;
    return hosts;
}

std::mutex& contextMutex() {
    static std::mutex m;
    return m;
}
std::set<const CallContext*>& liveContexts() {
    static std::set<const CallContext*> contexts;
    return contexts;
}

}  // namespace

CallContext* contextOf(PF_ProgPtr effect_ref, const char* who) {
    auto* ctx = reinterpret_cast<CallContext*>(effect_ref);
    {
        std::lock_guard<std::mutex> lock(contextMutex());
        if (ctx && liveContexts().count(ctx)) {
            return ctx;
        }
    }
    if (HeadlessHost::Impl* host = currentHost()) {
        host->noteMisuse(std::string(who) + " with an effect_ref of no running command");
    }
    return nullptr;
}

LiveContextScope::LiveContextScope(CallContext* ctx) : ctx_(ctx) {
    std::lock_guard<std::mutex> lock(contextMutex());
    liveContexts().insert(ctx_);
}

LiveContextScope::~LiveContextScope() {
    std::lock_guard<std::mutex> lock(contextMutex());
    liveContexts().erase(ctx_);
}

HeadlessHost::Impl* currentHost() {
    if (t_current) {
        return t_current;
    }
    std::lock_guard<std::mutex> lock(liveMutex());
    return liveHosts().size() == 1 ? *liveHosts().begin() : nullptr;
}

CurrentHostScope::CurrentHostScope(HeadlessHost::Impl* host) : previous_(t_current) { t_current = host; }
CurrentHostScope::~CurrentHostScope() { t_current = previous_; }

void registerLiveHost(HeadlessHost::Impl* host) {
    std::lock_guard<std::mutex> lock(liveMutex());
    liveHosts().insert(host);
}

void unregisterLiveHost(HeadlessHost::Impl* host) {
    std::lock_guard<std::mutex> lock(liveMutex());
    liveHosts().erase(host);
}

}  // namespace TEV::Host
