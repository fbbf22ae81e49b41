// A fixed set of worker threads running queued jobs, for the iterate suites.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace TEV::Host {

class ThreadPool {
public:
    explicit ThreadPool(unsigned workers);
    // Finishes the queued jobs, then joins the workers.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Jobs must not throw.
    void post(std::function<void()> job);
    unsigned size() const { return static_cast<unsigned>(workers_.size()); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace TEV::Host
