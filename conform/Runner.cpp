// The run: checks one after another, with skips for unmet needs and for a
// server that has gone.
#include "Runner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "ClientLines.h"
#include "Groups.h"

namespace TEV {
namespace Conform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectMilliseconds = 2000;

// The reason a check is skipped, or "" when it may run.
std::string unmetNeed(const Check& check, const std::map<std::string, Status>& done) {
    for (const std::string& need : check.needs) {
        const auto it = done.find(need);
        // A check left unseen judged nothing wrong: what needs it may still run.
        if (it == done.end() || it->second == Status::Pass || it->second == Status::Unseen) continue;
        return "needs " + need + ", which " + (it->second == Status::Fail ? "failed" : "was skipped");
    }
    return "";
}

Outcome runOne(const Check& check, const Target& target) {
    Outcome outcome;
    outcome.check = &check;
    ClientLines::forgetThisThread();
    const Clock::time_point start = Clock::now();
    try {
        const Verdict verdict = check.run(target);
        outcome.status = verdict.status;
        outcome.got = verdict.got;
    } catch (const TEVErr& e) {
        outcome.status = Status::Fail;
        outcome.got = describeFailure(e);
    } catch (const std::exception& e) {
        outcome.status = Status::Fail;
        outcome.got = std::string("the check stopped: ") + e.what();
    }
    outcome.took = Clock::now() - start;
    return outcome;
}

}  // namespace

std::string unreachable(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return std::string("socket: ") + std::strerror(errno);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string where = "127.0.0.1:" + std::to_string(port);
    std::string problem;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) {
            problem = "nothing is listening on " + where + " (" + std::strerror(errno) + ")";
        } else {
            pollfd p{fd, POLLOUT, 0};
            const int ready = poll(&p, 1, kConnectMilliseconds);
            int error = 0;
            socklen_t length = sizeof error;
            if (ready == 0) {
                problem = "no connection to " + where + " within " + std::to_string(kConnectMilliseconds) + " ms";
            } else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
                problem = "nothing is listening on " + where + " (" + std::strerror(error ? error : errno) + ")";
            }
        }
    }
    close(fd);
    return problem;
}

std::vector<Outcome> runChecks(const Target& target, const std::vector<const Check*>& checks,
                               const RunSettings& settings) {
    ClientLines lines(settings.client_lines);
    std::vector<Outcome> outcomes;
    std::map<std::string, Status> done;
    std::string gone;  // why the server can no longer be reached
    for (const Check* check : checks) {
        Outcome outcome;
        const std::string unmet = settings.follow_needs ? unmetNeed(*check, done) : "";
        if (!gone.empty()) {
            outcome.check = check;
            outcome.got = gone;
        } else if (!unmet.empty()) {
            outcome.check = check;
            outcome.got = unmet;
        } else {
            outcome = runOne(*check, target);
            if (outcome.status == Status::Fail) {
                const std::string problem = unreachable(target.port);
                if (!problem.empty()) gone = "the server went away during " + check->name + ": " + problem;
            }
        }
        done[check->name] = outcome.status;
        outcomes.push_back(outcome);
        if (settings.on_outcome) settings.on_outcome(outcomes.back());
    }
    return outcomes;
}

Summary summarize(const std::vector<Outcome>& outcomes) {
    Summary s;
    for (const Outcome& o : outcomes) {
        const bool required = o.check->required;
        switch (o.status) {
            case Status::Pass: ++(required ? s.required_passed : s.info_passed); break;
            case Status::Fail: ++(required ? s.required_failed : s.info_failed); break;
            case Status::Skip: ++(required ? s.required_skipped : s.info_skipped); break;
            case Status::Unseen: ++(required ? s.required_unseen : s.info_unseen); break;
        }
    }
    return s;
}

}  // namespace Conform
}  // namespace TEV
