// The objects the host has handed to the plug-in behind one kind of opaque
// reference (effect references, stream references, stream values), so that
// a reference the plug-in passes back is checked before it is used, and the
// books count what was made and disposed.
#pragma once

#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "Guarded.h"
#include "tevhost/Books.h"

namespace TEV::Host {

template <typename T>
class LiveRefs {
public:
    // `made` and `disposed` are the books' counters of this kind.
    LiveRefs(long Books::*made, long Books::*disposed) : made_(made), disposed_(disposed) {}
    ~LiveRefs() {
        for (T* ref : takeIf([](const T*) { return true; })) destroy(ref);
    }
    LiveRefs(const LiveRefs&) = delete;
    LiveRefs& operator=(const LiveRefs&) = delete;

    // Makes `ref` live and counts it as made.
    void handOut(T* ref, Guarded<Books>& books) {
        live_.with([&](std::set<T*>& live) { live.insert(ref); });
        books.with([&](Books& b) { ++(b.*made_); });
    }

    // The live object behind `handle`; null when there is none, recorded in
    // the books as `misuse`.
    T* find(const void* handle, Guarded<Books>& books, const std::string& misuse) const {
        T* ref = static_cast<T*>(const_cast<void*>(handle));
        const bool live = ref && live_.with([&](const std::set<T*>& l) { return l.count(ref) != 0; });
        if (live) return ref;
        books.with([&](Books& b) { b.misuse.push_back(misuse); });
        return nullptr;
    }

    // Takes `ref` back and counts it as disposed; false, with `misuse` in the
    // books, when it is not live. The caller frees what it allocated.
    bool takeBack(const T* ref, Guarded<Books>& books, const std::string& misuse) {
        const bool was_live = live_.with([&](std::set<T*>& l) { return l.erase(const_cast<T*>(ref)) != 0; });
        books.with([&](Books& b) {
            if (was_live) {
                ++(b.*disposed_);
            } else {
                b.misuse.push_back(misuse);
            }
        });
        return was_live;
    }

    // Removes every live object for which pred(object) is true, uncounted,
    // and returns them.
    template <typename Pred>
    std::vector<T*> takeIf(Pred pred) {
        return live_.with([&](std::set<T*>& live) {
            std::vector<T*> taken;
            for (auto it = live.begin(); it != live.end();) {
                if (pred(static_cast<const T*>(*it))) {
                    taken.push_back(*it);
                    it = live.erase(it);
                } else {
                    ++it;
                }
            }
            return taken;
        });
    }

private:
    // Objects the host allocated are freed with the host; records that the
    // plug-in owns (T = const void) are only forgotten.
    static void destroy(T* ref) {
        if constexpr (!std::is_void_v<T>) delete ref;
    }

    Guarded<std::set<T*>> live_;
    long Books::*made_;
    long Books::*disposed_;
};

}  // namespace TEV::Host
