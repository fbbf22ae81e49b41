// The server link prints one diagnostic line per failed attempt on standard
// output. While a run lasts, those lines are taken off standard output (which
// carries the report) and kept, so that a failed check can say what its last
// attempt met.
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace TEV {
namespace Conform {

class ClientLines {
public:
    // Takes std::cout over until destroyed; each line is also written to
    // `echo` when given (for --verbose).
    explicit ClientLines(std::ostream* echo = nullptr);
    ~ClientLines();
    ClientLines(const ClientLines&) = delete;
    ClientLines& operator=(const ClientLines&) = delete;

    // The latest line the calling thread printed while a ClientLines was in
    // place ("" when none), without its "[TEV] " prefix.
    static std::string lastOfThisThread();
    // Forgets the calling thread's latest line.
    static void forgetThisThread();

private:
    class Sink;
    std::unique_ptr<Sink> sink_;
    std::streambuf* previous_;
};

// The detail of the calling thread's latest failed attempt, as the server
// link printed it ("CURL HTTP Code Error: 404"); "" when there was none.
std::string lastAttemptFailure();

}  // namespace Conform
}  // namespace TEV
