#include "run/StopSignals.h"

#include <signal.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "files/SafeFile.h"

namespace TEV::Host::Cli {

namespace {

std::atomic<HeadlessHost*> g_abort_target{nullptr};
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<HeadlessHost*>::is_always_lock_free,
              "the signal handler may only touch lock-free atomics");

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];
// The second signal's words, made before any signal comes: the handler may
// only write() them.
char g_second_words[3][128];
struct sigaction g_previous_pipe;

extern "C" void onStopSignal(int signal_number) {
    int expected = 0;
    if (!g_signal.compare_exchange_strong(expected, signal_number)) {
        // The second signal: no waiting for the frames in flight any more.
        removeTemporaryFilesNow();
        for (int i = 0; i < 3; ++i) {
            if (kStopSignals[i] != signal_number) continue;
            const ssize_t written = write(STDERR_FILENO, g_second_words[i], std::strlen(g_second_words[i]));
            (void)written;  // nothing to do about a failing stderr here
        }
        signal(signal_number, SIG_DFL);
        raise(signal_number);
        return;
    }
    if (HeadlessHost* host = g_abort_target.load()) {
        host->requestAbort();  // stores an atomic flag: safe in a signal handler
    }
}

}  // namespace

StopSignals::StopSignals() {
    g_signal.store(0);
    struct sigaction action {};
    action.sa_handler = &onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
        std::snprintf(g_second_words[i], sizeof g_second_words[i],
                      "tev-host: a second SIG%s: stopped at once, writes in progress removed\n",
                      sigabbrev_np(kStopSignals[i]));
        sigaction(kStopSignals[i], &action, &g_previous[i]);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &g_previous_pipe);
}

StopSignals::~StopSignals() {
    g_abort_target.store(nullptr);
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &g_previous[i], nullptr);
    sigaction(SIGPIPE, &g_previous_pipe, nullptr);
}

void StopSignals::setAbortTarget(HeadlessHost* host) {
    g_abort_target.store(host);
    if (host && g_signal.load() != 0) host->requestAbort();  // a signal came before the host was set
}

int StopSignals::received() { return g_signal.load(); }

int exitStatusForSignal(int signal_number) { return 128 + signal_number; }

}  // namespace TEV::Host::Cli
