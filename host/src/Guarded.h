// A value with a lock of its own, reached only through with(): the lock is
// held for exactly the call and never escapes it.
#pragma once

#include <mutex>
#include <utility>

namespace TEV::Host {

template <typename T>
class Guarded {
public:
    // Runs f(value) under the lock and returns what f returns. f must not
    // take another Guarded's lock: each one is a leaf.
    template <typename F>
    decltype(auto) with(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::forward<F>(f)(value_);
    }
    template <typename F>
    decltype(auto) with(F&& f) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::forward<F>(f)(value_);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace TEV::Host
