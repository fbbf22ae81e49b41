// What the bridge must never do, as tests that fail when it does: talk to
// anything but the loopback server (proxies from the environment, redirects),
// start the server through a shell or a PATH search, hand it the host's
// environment or descriptors, use a server's text as a format, or buffer a
// reply larger than its cap.
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include <gmock/gmock.h>

#include "CaptureStdout.h"
#include "FaultSupport.h"
#include "RestClient.h"
#include "TextFiles.h"
#include "ThrownError.h"

namespace fs = std::filesystem;

namespace TEV::FaultTest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Test::linesStartingWith;
using Test::readFile;
using Test::thrownBy;

std::unique_ptr<Rest::Client> linkClient() {
    auto client = Rest::create_client();
    client->setPlugin("SecurityTest", "1.0.0");
    return client;
}

// A loopback listener that answers nothing useful: it only counts who comes.
std::unique_ptr<RawServer> decoy() {
    return std::make_unique<RawServer>(0, [](const std::string&) {
        return std::string("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
    });
}

// ---- loopback only ----------------------------------------------------------------

class ProxyEnvironment {
public:
    explicit ProxyEnvironment(const std::string& proxy)
        : http_("http_proxy", proxy.c_str()),
          http_upper_("HTTP_PROXY", proxy.c_str()),
          all_("ALL_PROXY", proxy.c_str()),
          all_lower_("all_proxy", proxy.c_str()),
          no_("no_proxy", nullptr),
          no_upper_("NO_PROXY", nullptr) {}

private:
    ScopedEnv http_, http_upper_, all_, all_lower_, no_, no_upper_;
};

TEST(LoopbackOnly, TheEndpointIsTheLoopbackAddressOnTheBuildsPort) {
    auto client = linkClient();
    EXPECT_EQ(client->get_endpoint(), "http://127.0.0.1:" + std::to_string(kServerPort) + "/api");
}

TEST_F(FaultTest, AProxyInTheEnvironmentDivertsNeitherTheLinkNorThePlugin) {
    const auto proxy = decoy();
    const ProxyEnvironment environment("http://127.0.0.1:" + std::to_string(proxy->port()));

    // The premise: libcurl left to itself does take the proxy for this URL.
    {
        CURL* plain = curl_easy_init();
        ASSERT_NE(plain, nullptr);
        const std::string url = "http://127.0.0.1:" + std::to_string(kServerPort) + "/api";
        curl_easy_setopt(plain, CURLOPT_URL, url.c_str());
        curl_easy_setopt(plain, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t n, void*) { return size * n; });
        curl_easy_perform(plain);
        curl_easy_cleanup(plain);
        ASSERT_EQ(proxy->connections(), 1) << "libcurl ignores the proxy variables here: the test proves nothing";
    }

    startServer().setJobScript(invertingJob());
    auto client = linkClient();
    Dict request;
    client->send_and_receive_dict(request);

    const PixelWorld input = faultInput();
    double seconds = 0;
    expectProcessed(timedRender(input, seconds), input);

    EXPECT_EQ(proxy->connections(), 1) << "a request went to the proxy";
    const std::vector<ReceivedRequest> seen = server->requests();
    ASSERT_EQ(seen.size(), 2u);
    for (const ReceivedRequest& r : seen) {
        EXPECT_EQ(r.header("Host"), "127.0.0.1:" + std::to_string(kServerPort));
        EXPECT_EQ(r.target, "/api") << "a proxied request names the whole URL";
    }
}

TEST_F(FaultTest, ARedirectIsNotFollowed) {
    const auto elsewhere = decoy();
    const std::string redirect = "HTTP/1.1 307 Temporary Redirect\r\nLocation: http://127.0.0.1:" +
                                 std::to_string(elsewhere->port()) + "/api\r\nContent-Length: 0\r\n\r\n";
    RawServer redirecting(kServerPort, [&](const std::string&) { return redirect; });
    auto client = linkClient();
    CaptureStdout out;
    Dict request;
    const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
    EXPECT_EQ(e.detail, "Could not reach server.");
    EXPECT_THAT(out.text(), HasSubstr("CURL HTTP Code Error: 307"));
    EXPECT_GT(redirecting.connections(), 0);
    EXPECT_EQ(elsewhere->connections(), 0) << "the redirect was followed";
}

// ---- the launch -------------------------------------------------------------------

// A directory put first on PATH whose programs, if ever run, leave a mark.
class DecoyPath {
public:
    DecoyPath() : dir_(fs::path(kBuildDir) / "faults-decoy-bin"), marker_(dir_ / "ran") {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        for (const char* program : {"TEVORA Server", "sh", "bash", "python3", "env"}) {
            const fs::path p = dir_ / program;
            std::ofstream(p) << "#!/bin/sh\necho \"$0\" >> '" << marker_.string() << "'\n";
            fs::permissions(p, fs::perms::owner_all);
        }
        const char* old = std::getenv("PATH");
        path_ = std::make_unique<ScopedEnv>("PATH", (dir_.string() + ":" + (old ? old : "/usr/bin:/bin")).c_str());
    }
    ~DecoyPath() {
        path_.reset();
        fs::remove_all(dir_);
    }
    // What ran from the decoy directory, one path a line.
    std::string ran() const { return fs::exists(marker_) ? readFile(marker_.string()) : ""; }

private:
    fs::path dir_;
    fs::path marker_;
    std::unique_ptr<ScopedEnv> path_;
};

class LaunchTest : public FaultTest {
protected:
    void TearDown() override {
        FaultTest::TearDown();
        removeServerInstall();
    }
};

TEST_F(LaunchTest, WithNothingInstalledNoProgramOnThePathIsStartedInstead) {
    const DecoyPath decoys;
    auto client = linkClient();
    CaptureStdout out;
    EXPECT_FALSE(client->start_server());
    EXPECT_THAT(out.text(), HasSubstr("Failed to spawn server process: No such file or directory"));
    EXPECT_EQ(decoys.ran(), "") << "a program was looked up on PATH or a shell was started";
}

TEST_F(LaunchTest, TheServerStartedByARenderGetsNoShellNoEnvironmentAndNoHostDescriptor) {
    installFakeRuntime();
    fs::remove(launcherLog());  // appended to by every launch
    const DecoyPath decoys;
    const ScopedEnv secret("TEV_FAULT_TEST_SECRET", "must-not-leak");

    // Descriptors of the host without close-on-exec: the plug-in's own log
    // file, a pipe, a listening socket, a plain file, and one high number.
    start();
    const InstanceId inst = instance();
    std::vector<int> held;
    held.push_back(open(logPath().c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644));
    int pipe_fds[2] = {-1, -1};
    ASSERT_EQ(pipe(pipe_fds), 0);
    held.insert(held.end(), {pipe_fds[0], pipe_fds[1]});
    const int listening = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listening, 1), 0);
    held.push_back(listening);
    held.push_back(open("/dev/zero", O_RDONLY));
    held.push_back(dup2(held.back(), 200));
    for (int fd : held) {
        ASSERT_GE(fd, 3);
        ASSERT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    }

    const PixelWorld input = faultInput();
    std::string printed;
    RenderResult r;
    {
        CaptureStdout out;
        r = host->render(inst, input);
        printed = out.text();
    }
    for (int fd : held) close(fd);
    expectOverlay(r, input, cannotReach(), "launched_fake_runtime");

    std::smatch pid;
    ASSERT_TRUE(std::regex_search(printed, pid, std::regex(R"(\[TEV\] Server launched with PID: (\d+)\n)"))) << printed;
    int status = 0;
    ASSERT_EQ(waitpid(static_cast<pid_t>(std::stol(pid[1])), &status, 0), std::stol(pid[1]));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const std::string log = readFile(launcherLog());
    ASSERT_THAT(log, HasSubstr("\nend\n"));
    const std::string script =
        "import sys;sys.path.append('" + serverDirectory() + "');from launcher import launcher;launcher()";
    EXPECT_THAT(linesStartingWith(log, "arg["),
                ElementsAre("0]=" + serverExecutable(), "1]=-I", "2]=-c", "3]=" + script));
    EXPECT_THAT(linesStartingWith(log, "env="), ElementsAre("PYTHONUNBUFFERED=1"));
    const std::string log_target = fs::canonical(launcherLog()).string();
    EXPECT_THAT(linesStartingWith(log, "fd="),
                ElementsAre("0 -> /dev/null", "1 -> " + log_target, "2 -> " + log_target));
    EXPECT_EQ(decoys.ran(), "");
}

// ---- server texts are data, never formats -----------------------------------------

const std::string kFormatText = "%s%s%n%x{}{0}{:>999999999}%999999999d%%";

TEST_F(FaultTest, AServersErrorTextReachesTheLogAndTheFrameVerbatim) {
    const PixelWorld input = faultInput();
    startServer();
    double seconds = 0;

    // As the job's error.
    JobScript reply_error;
    reply_error.result = [](const Dict&) { return makeMap({{"error", kFormatText}}); };
    server->setJobScript(reply_error);
    expectOverlay(timedRender(input, seconds), input, errorInTevora(kFormatText), "format_text_reply");
    EXPECT_EQ(logMessages().back(), "Error in UniversalRender: " + kFormatText);

    // As the call's error and as a poll's error.
    JobScript call_error;
    call_error.call_error = kFormatText;
    server->setJobScript(call_error);
    expectOverlay(timedRender(input, seconds), input, pluginError(kFormatText, "While doing the initial call"),
                  "format_text_call");
    EXPECT_EQ(logMessages().back(),
              "TEV Error in UniversalRender: Exception in plugin: " + kFormatText + ". While doing the initial call");

    JobScript poll_error;
    poll_error.queued = true;
    poll_error.poll_error = kFormatText;
    server->setJobScript(poll_error);
    expectOverlay(timedRender(input, seconds), input, pluginError(kFormatText, "While getting the result"),
                  "format_text_poll");
    EXPECT_EQ(logMessages().back(),
              "TEV Error in UniversalRender: Exception in plugin: " + kFormatText + ". While getting the result");

    // A parameter report the server refuses: the command fails, nothing is formatted into the host's message.
    server->setJobScript(call_error);
    const CommandResult changed = host->userChangedParam(instance(), kBrightness);
    EXPECT_EQ(changed.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(changed.return_msg, "");
    expectBooksBalanced();
}

TEST(ServerTexts, ComeBackFromTheLinkVerbatimInTheErrors) {
    if (!makerFolderIsScratch()) GTEST_SKIP() << "maker folder outside the build tree";
    FakeServer server;
    JobScript script;
    script.call_error = kFormatText;
    server.setJobScript(script);
    auto client = linkClient();
    const TEVErr e = thrownBy([&] { client->call_plugin("render", Dict()); });
    EXPECT_EQ(e.type, ExceptionInPlugin);
    EXPECT_EQ(e.detail, kFormatText);
    EXPECT_EQ(e.message(), "Exception in plugin: " + kFormatText + ". While doing the initial call");
}

// ---- the reply cap ----------------------------------------------------------------

// Under AddressSanitizer freeing a block writes its whole shadow, so memory
// that was only reserved, never received, still shows in the resident set.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kReservationsBecomeResident = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kReservationsBecomeResident = true;
#else
constexpr bool kReservationsBecomeResident = false;
#endif
#else
constexpr bool kReservationsBecomeResident = false;
#endif

// Peak resident memory from now on, in KiB: the kernel's peak is reset when
// it lets us (clear_refs 5), otherwise the growth is judged from the old peak.
long resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
    return memoryUse().peak_kib;
}

TEST_F(FaultTest, OversizedRepliesAreRefusedBeforeTheyAreBuffered) {
    constexpr long kMiB = 1024;
    {  // No length announced: the body is cut off as it passes the cap.
        startServer().setOversizeBytes(std::size_t(512) << 20);
        server->misbehave(Misbehaviour::oversized_chunked);
        auto client = linkClient();
        client->setMaxReplyBytes(1 << 20);
        const long before = resetPeak();
        Dict request;
        const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
        EXPECT_THAT(e.detail, HasSubstr("larger than the limit of 1048576 bytes"));
        EXPECT_LT(memoryUse().peak_kib - before, 64 * kMiB) << "the reply was buffered";
        server.reset();
    }
    {  // An announced terabyte is refused at once by the plug-in's 16 GiB cap.
        startServer().misbehave(Misbehaviour::huge_content_length);
        const PixelWorld input = faultInput();
        instance();
        const long before = resetPeak();
        double seconds = 0;
        const RenderResult r = timedRender(input, seconds);
        const std::string detail = "Reply from http://127.0.0.1:" + std::to_string(kServerPort) +
                                   "/api is larger than the limit of 17179869184 bytes";
        expectOverlay(r, input, pluginError(detail, ""), "reply_over_cap");
        EXPECT_EQ(logMessages().back(), "TEV Error in UniversalRender: Error decoding message: " + detail);
        EXPECT_EQ(server->requestCount(), 1u);
        EXPECT_LT(seconds, kAnsweredExchangeBound);
        EXPECT_LT(memoryUse().peak_kib - before, 64 * kMiB);
        server.reset();
    }
    {  // A length under the cap that the body never delivers, with a 4 GiB bin header.
        RawServer liar(kServerPort, [](const std::string&) {
            return std::string("HTTP/1.1 200 OK\r\nContent-Length: 12884901888\r\n\r\n") +
                   std::string("\x81\xa6result\xc6\xff\xff\xff\xff", 12) + std::string(4096, 'x');
        });
        auto client = linkClient();
        const long before = resetPeak();
        Dict request;
        CaptureStdout out;
        const TEVErr e = thrownBy([&] { client->send_and_receive_dict(request); });
        EXPECT_EQ(e.detail, "Could not reach server.");
        if (!kReservationsBecomeResident) {
            EXPECT_LT(memoryUse().peak_kib - before, 64 * kMiB) << "the announced size was buffered";
        }
    }
}

}  // namespace
}  // namespace TEV::FaultTest
