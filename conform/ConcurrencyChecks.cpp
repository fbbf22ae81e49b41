// concurrency.*: several clients, each shared by render threads, with jobs
// in flight at once.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Frames.h"
#include "Groups.h"
#include "ResultImage.h"

namespace TEV {
namespace Conform {

namespace {

constexpr int kClients = 3;
constexpr int kThreadsPerClient = 2;  // render threads sharing a client, as the plug-in's do
constexpr int kRounds = 3;

// Lets every thread go at once, so that their jobs overlap.
class StartLine {
public:
    explicit StartLine(int parties) : waiting_(parties) {}
    void arriveAndWait() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (--waiting_ == 0) go_.notify_all();
        go_.wait(lock, [this] { return waiting_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable go_;
    int waiting_;
};

Verdict clients(const Target& target) {
    std::vector<std::unique_ptr<Rest::Client>> links;
    for (int c = 0; c < kClients; ++c) links.push_back(target.connect());
    const int threads = kClients * kThreadsPerClient;
    std::vector<std::string> problems(threads);
    StartLine start(threads);
    const Dict args = renderArgs(target.renderParams());

    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            // Every thread's frame has a size of its own, so a result that
            // went to the wrong job shows.
            const Image frame = makeFrame(static_cast<unsigned short>(48 + 8 * t),
                                          static_cast<unsigned short>(36 + 4 * t), 3, 8);
            Rest::Client& client = *links[t / kThreadsPerClient];
            start.arriveAndWait();
            const std::string who = "thread " + std::to_string(t + 1) + " (client " +
                                    std::to_string(t / kThreadsPerClient + 1) + ")";
            try {
                for (int round = 1; round <= kRounds; ++round) {
                    const MessageDict result = client.call_plugin_with_image("render", args, "image", frame);
                    const std::string problem = resultImageProblem(result, frame);
                    if (!problem.empty()) {
                        problems[t] = who + ", job " + std::to_string(round) + ": " + problem;
                        return;
                    }
                }
            } catch (const TEVErr& e) {
                problems[t] = who + ": " + describeFailure(e);
            } catch (const std::exception& e) {
                problems[t] = who + ": " + e.what();
            }
        });
    }
    for (std::thread& w : workers) w.join();
    for (const std::string& problem : problems)
        if (!problem.empty()) return Verdict::fail(problem);
    return Verdict::pass(std::to_string(threads * kRounds) + " jobs from " + std::to_string(threads) +
                         " threads on " + std::to_string(kClients) + " clients, each result its own frame");
}

}  // namespace

std::vector<Check> concurrencyChecks() {
    return {
        {"concurrency.clients", true, {"images.8bit"},
         "3 clients, each shared by 2 render threads, keep 6 jobs of different frame sizes in flight at once; "
         "every job gets its own frame back.",
         "each of 18 jobs gets its own frame back", clients},
    };
}

}  // namespace Conform
}  // namespace TEV
