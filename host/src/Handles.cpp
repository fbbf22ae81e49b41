// Host memory handles. A handle is the address of a record whose first member
// is the master pointer, so *handle is the data. Every live handle is in one
// process-wide registry, so that a foreign or already disposed handle is
// reported instead of being dereferenced.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "HostImpl.h"

namespace TEV::Host {

namespace {

struct HandleRecord {
    char* data;  // must stay first: a PF_Handle is the address of this member
    A_u_longlong size;
    long locks;
    HeadlessHost::Impl* owner;
};

// Larger requests fail like an exhausted host instead of reaching the allocator.
constexpr A_u_longlong kMaxHandleSize = A_u_longlong(1) << 36;

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::unordered_map<PF_Handle, HandleRecord*>& registry() {
    static std::unordered_map<PF_Handle, HandleRecord*> r;
    return r;
}

template <typename F>
void withBooks(HeadlessHost::Impl* host, F&& f) {
    if (host) {
        host->books.with(f);
    }
}

void misuse(const std::string& what) {
    if (HeadlessHost::Impl* host = currentHost()) {
        host->noteMisuse(what);
    }
}

// The record of a live handle, or null.
HandleRecord* find(PF_Handle h) {
    auto it = registry().find(h);
    return it == registry().end() ? nullptr : it->second;
}

void freeRecord(PF_Handle h, bool reclaimed) {
    HeadlessHost::Impl* owner = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        HandleRecord* rec = find(h);
        if (!rec) {
            misuse("host_dispose_handle of a handle that is not live (never allocated or already disposed)");
            return;
        }
        owner = rec->owner;
        registry().erase(h);
        std::free(rec->data);
        delete rec;
    }
    withBooks(owner, [&](Books& b) {
        ++(reclaimed ? b.handles_reclaimed : b.handles_disposed);
        --b.handles_live;
    });
}

}  // namespace

PF_Handle newHandle(A_u_longlong size) {
    if (size > kMaxHandleSize) {
        return nullptr;
    }
    char* data = static_cast<char*>(std::calloc(1, size ? size : 1));
    if (!data) {
        return nullptr;
    }
    HeadlessHost::Impl* owner = currentHost();
    auto* rec = new HandleRecord{data, size, 0, owner};
    PF_Handle h = &rec->data;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        registry()[h] = rec;
    }
    withBooks(owner, [](Books& b) {
        ++b.handles_allocated;
        ++b.handles_live;
    });
    return h;
}

void* lockHandle(PF_Handle h) {
    HeadlessHost::Impl* owner = nullptr;
    void* data = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        HandleRecord* rec = find(h);
        if (!rec) {
            misuse("host_lock_handle of a handle that is not live");
            return nullptr;
        }
        ++rec->locks;
        owner = rec->owner;
        data = rec->data;
    }
    withBooks(owner, [](Books& b) { ++b.handles_locked; });
    return data;
}

void unlockHandle(PF_Handle h) {
    HeadlessHost::Impl* owner = nullptr;
    bool was_locked = true;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        HandleRecord* rec = find(h);
        if (!rec) {
            misuse("host_unlock_handle of a handle that is not live");
            return;
        }
        owner = rec->owner;
        was_locked = rec->locks > 0;
        if (was_locked) {
            --rec->locks;
        }
    }
    withBooks(owner, [](Books& b) { ++b.handles_unlocked; });
    if (!was_locked && owner) {
        owner->noteMisuse("host_unlock_handle of a handle that is not locked");
    }
}

void disposeHandle(PF_Handle h) { freeRecord(h, false); }

void reclaimHandle(PF_Handle h) { freeRecord(h, true); }

A_u_longlong handleSize(PF_Handle h) {
    std::lock_guard<std::mutex> lock(registryMutex());
    HandleRecord* rec = find(h);
    if (!rec) {
        return 0;
    }
    return rec->size;
}

PF_Err resizeHandle(A_u_longlong size, PF_Handle* hp) {
    if (!hp) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    HeadlessHost::Impl* owner = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        HandleRecord* rec = find(*hp);
        if (!rec) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (size > kMaxHandleSize) {
            return PF_Err_OUT_OF_MEMORY;
        }
        char* data = static_cast<char*>(std::realloc(rec->data, size ? size : 1));
        if (!data) {
            return PF_Err_OUT_OF_MEMORY;
        }
        if (size > rec->size) {
            std::memset(data + rec->size, 0, size - rec->size);
        }
        rec->data = data;
        rec->size = size;
        owner = rec->owner;
    }
    withBooks(owner, [](Books& b) { ++b.handles_resized; });
    return PF_Err_NONE;
}

bool handleAlive(PF_Handle h) {
    std::lock_guard<std::mutex> lock(registryMutex());
    return find(h) != nullptr;
}

std::vector<std::pair<PF_Handle, A_u_longlong>> liveHandles(const HeadlessHost::Impl* host) {
    std::vector<std::pair<PF_Handle, A_u_longlong>> out;
    std::lock_guard<std::mutex> lock(registryMutex());
    for (const auto& [h, rec] : registry()) {
        if (rec->owner == host) {
            out.emplace_back(h, rec->size);
        }
    }
    return out;
}

void releaseHandlesOf(const HeadlessHost::Impl* host) {
    std::lock_guard<std::mutex> lock(registryMutex());
    for (auto it = registry().begin(); it != registry().end();) {
        if (it->second->owner == host) {
            std::free(it->second->data);
            delete it->second;
            it = registry().erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace TEV::Host
