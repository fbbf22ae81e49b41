// The server dies in the middle of a job: what the frame shows, what is
// logged, and how rendering resumes (by the launcher, or after Reconnect).
#include <atomic>

#include "EndToEndFixture.h"
#include "report/FrameVerdict.h"
#include "run/KnownPlugin.h"
#include "SampleClip.h"

namespace TEV::E2e {
namespace {

using Host::Cli::OverlayText;
using Host::RenderResult;

const Adjustment kAdjust{1.2f, 0.9f, 1.3f};
const OverlayText kCantConnectThrown{"Can't connect to the TEVORA", "Please start or restart it.",
                                     "Then, click the Reconnect button from this plugin"};
const OverlayText kCantConnectKnown{kCantConnectThrown.line1, kCantConnectThrown.line2,
                                    kCantConnectThrown.line3 + "."};

PixelWorld frame(int width, int height, int index, int depth) {
    return Host::Cli::sampleFrame(width, height, index, 12).convertedTo(depth);
}

// The rows where the colours of two worlds differ, as [first, last]; {-1, -1} when none.
std::pair<int, int> changedRows(const PixelWorld& a, const PixelWorld& b) {
    int first = -1, last = -1;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const Host::Rgba p = a.get(x, y), q = b.get(x, y);
            if (p.r != q.r || p.g != q.g || p.b != q.b) {
                if (first < 0) first = y;
                last = y;
                break;
            }
        }
    }
    return {first, last};
}

bool anyLineContains(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& l : lines) {
        if (l.find(text) != std::string::npos) return true;
    }
    return false;
}

// Whether the parameter UI hides the Reconnect row: through the AEGP stream
// flag, or (without the AEGP suites) through the row's UI flags.
bool reconnectRowHidden(const Host::HeadlessHost& host, InstanceId inst) {
    return host.paramHidden(inst, 1) || (host.params(inst).at(1).ui_flags & PF_PUI_INVISIBLE);
}

// A session whose progress callback kills the server (SIGKILL) at the first
// progress report of a job after kill_next_job is set.
struct KillingSession {
    std::atomic<bool> kill_next_job{false};
    std::atomic<pid_t> killed{0};
    PluginSession session;

    explicit KillingSession(Host::HostProfile profile) : session(options(profile), kAdjust) {}
    Host::HostOptions options(Host::HostProfile profile) {
        Host::HostOptions o = Host::HostOptions::forProfile(profile);
        o.on_progress = [this](A_long, A_long total) -> PF_Err {
            if (total == 100 && kill_next_job.exchange(false)) {
                killed = serverPid();
                stopServer(SIGKILL);
            }
            return PF_Err_NONE;
        };
        return o;
    }
    RenderResult render(const PixelWorld& input) { return session.host.render(session.inst, input); }
    // Renders frames of `depth`, larger each time, until one is still running
    // at its first progress report and the server is killed (a loaded machine
    // may delay the plug-in's polls until the server is done): that frame
    // and its result. killed stays 0 when no try was killed.
    std::pair<PixelWorld, RenderResult> renderKilled(int index, int depth) {
        std::pair<PixelWorld, RenderResult> tried;
        for (const int width : {2400, 3840, 5120}) {  // many blocks: still running at the first progress
            kill_next_job = true;
            tried.first = frame(width, width * 9 / 16, index, depth);
            tried.second = render(tried.first);
            if (killed.load() != 0) break;
        }
        kill_next_job = false;
        return tried;
    }
};

TEST_P(EndToEndInProfile, ServerKilledMidJobThatCannotRestartShowsCantConnectUntilReconnect) {
    KillingSession s(GetParam());
    ASSERT_TRUE(s.render(frame(48, 27, 0, 16)).ok());  // the launcher starts the server
    ASSERT_NE(serverPid(), 0);
    HiddenRuntime hidden;  // from now on a launch finds no runtime

    const std::uintmax_t log_start = logSize();
    const auto [input, killed] = s.renderKilled(6, 16);
    ASSERT_NE(s.killed.load(), 0) << "no job reported progress, so the server was not killed";
    ASSERT_TRUE(killed.ok()) << "a failed exchange is drawn, not returned: " << killed.render.describe();
    const auto [first, last] = changedRows(input, killed.output);
    EXPECT_GT(first, 0) << "the overlay is a band inside the frame";
    EXPECT_LT(last, input.height() - 1);
    EXPECT_TRUE(Host::Cli::showsOverlay(input, killed.output, kCantConnectThrown, 1.0f));
    EXPECT_TRUE(anyLineContains(logLinesSince(log_start),
                                "TEV Error in UniversalRender: Connection failed: Could not reach server."));

    // Until Reconnect nothing is sent: the frame gets the overlay at once and
    // no server is started; the parameter UI shows the Reconnect row.
    const PixelWorld second = frame(320, 180, 7, 16);
    RenderResult known_down = s.render(second);
    ASSERT_TRUE(known_down.ok());
    EXPECT_TRUE(Host::Cli::showsOverlay(second, known_down.output, kCantConnectKnown, 1.0f));
    EXPECT_EQ(serverPid(), 0);
    ASSERT_TRUE(s.session.host.updateParamsUI(s.session.inst).ok());
    EXPECT_FALSE(reconnectRowHidden(s.session.host, s.session.inst)) << "the Reconnect row should show";

    hidden.restore();
    ASSERT_TRUE(s.session.host.userChangedParam(s.session.inst, 1).ok());
    RenderResult resumed = s.render(second);
    ASSERT_TRUE(resumed.ok()) << resumed.render.describe();
    EXPECT_EQ(firstDifference(resumed.output, expectedOutput(second, kAdjust)), "");
    EXPECT_NE(serverPid(), 0) << "the launcher did not restart the server";
    ASSERT_TRUE(s.session.host.updateParamsUI(s.session.inst).ok());
    EXPECT_TRUE(reconnectRowHidden(s.session.host, s.session.inst)) << "the Reconnect row should hide again";
}

TEST_P(EndToEndInProfile, ServerKilledMidJobIsRelaunchedAndOnlyTheLostFrameShowsTheServersError) {
    KillingSession s(GetParam());
    ASSERT_TRUE(s.render(frame(48, 27, 0, 8)).ok());
    const std::uintmax_t log_start = logSize();
    const auto [input, lost] = s.renderKilled(6, 8);
    ASSERT_NE(s.killed.load(), 0) << "no job reported progress, so the server was not killed";
    ASSERT_TRUE(lost.ok());
    // The launcher brings a fresh server up within the exchange; it has never
    // heard of the job, and says so.
    const pid_t relaunched = serverPid();
    EXPECT_NE(relaunched, 0);
    EXPECT_NE(relaunched, s.killed.load());
    const Host::Cli::Verdict verdict =
        Host::Cli::judgeFrame(input, lost.output, 1.0f, Host::Cli::PluginLog(pluginLogFile()).messagesSince(log_start));
    ASSERT_EQ(verdict.state, Host::Cli::FrameState::Overlay);
    EXPECT_EQ(verdict.overlay.line1, "Error in Tevora Plugin");
    EXPECT_NE(verdict.overlay.line2.find("no job with request id"), std::string::npos) << verdict.overlay.line2;
    EXPECT_EQ(verdict.overlay.line3, "While getting the result");

    const PixelWorld next = frame(200, 120, 8, 8);
    RenderResult after = s.render(next);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(firstDifference(after.output, expectedOutput(next, kAdjust)), "");
}

}  // namespace
}  // namespace TEV::E2e
