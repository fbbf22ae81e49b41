// Internal helpers of the plug-in, tested directly: strings, the host tag,
// the scope guard, install paths, and EnsureClient.
#include <atomic>
#include <thread>

#include <gmock/gmock.h>

#include "Commands.h"
#include "Helpers.h"
#include "Params.h"
#include "PluginState.h"
#include "TEVLocations.h"

namespace {

using ::testing::ElementsAre;

TEST(PluginStrings, SplitKeepsEmptyPiecesAndTheTextAfterTheLastDelimiter) {
    EXPECT_THAT(split("a|b|c", "|"), ElementsAre("a", "b", "c"));
    EXPECT_THAT(split("a||b|", "|"), ElementsAre("a", "", "b", ""));
    EXPECT_THAT(split("", "|"), ElementsAre(""));
    EXPECT_THAT(split("one::two", "::"), ElementsAre("one", "two"));
    EXPECT_THAT(split("abc", ""), ElementsAre("abc"));  // an empty delimiter cuts nowhere
    EXPECT_EQ(split(kTypeChoices, "|").size(), 6u);
}

TEST(PluginStrings, JoinSkipsEmptyParts) {
    EXPECT_EQ(join({"a", "", "c"}, ", "), "a, c");
    EXPECT_EQ(join({}, ","), "");
    EXPECT_EQ(join({"", ""}, ","), "");
    EXPECT_EQ(join({"", "b"}, ","), "b");
}

TEST(PluginStrings, ReplaceAllNeverRescansWhatItInserted) {
    EXPECT_EQ(replaceAll("a.b.c", ".", "::"), "a::b::c");
    EXPECT_EQ(replaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(replaceAll("abcabc", "abc", ""), "");
    EXPECT_EQ(replaceAll("text", "", "x"), "text");  // an empty search text would never end
}

TEST(PluginStrings, StringContainsIgnoresCase) {
    EXPECT_TRUE(stringContains(kTypeChoices, "tensor(gpu)"));
    EXPECT_TRUE(stringContains("anything", ""));
    EXPECT_FALSE(stringContains("OpenCV", "opencv2"));
}

TEST(PluginHostTag, NamesAfterEffectsAndPremiereAndOtherwiseOnlyTheApiVersion) {
    PF_InData in{};
    in.version.major = 13;
    in.appl_id = 'FXTC';
    EXPECT_EQ(appid(&in), "ae13");
    in.appl_id = 'PrMr';
    EXPECT_EQ(appid(&in), "premiere13");
    in.appl_id = 'XTRA';
    EXPECT_EQ(appid(&in), "13");
}

TEST(PluginScopeGuard, RunsItsCleanupOnceUnlessDismissed) {
    int runs = 0;
    { ScopeGuard guard([&] { ++runs; }); }
    EXPECT_EQ(runs, 1);
    {
        ScopeGuard guard([&] { ++runs; });
        guard.dismiss();
    }
    EXPECT_EQ(runs, 1);
}

TEST(PluginLocations, InstallPathsAreTheMakerFolderAndThePluginsFolderInIt) {
    EXPECT_EQ(GetInstallPath(nullptr), TEV_MAKER_FOLDER);
    EXPECT_EQ(GetPluginInstallPath(nullptr), std::string(TEV_MAKER_FOLDER) + "/ExamplePlugin");
    EXPECT_EQ(PluginVersionText(), "1.0.0");
}

TEST(PluginProcesses, ExecReturnsWhatTheCommandPrinted) {
    EXPECT_EQ(exec("printf 'one\\ntwo'"), "one\ntwo");
    EXPECT_EQ(exec("true"), "");
    const std::string long_line(300, 'x');
    EXPECT_EQ(exec("printf '" + long_line + "'"), long_line);
}

TEST(PluginClient, EnsureClientMakesAClientWithThePluginsIdentityAndKeepsAValidOne) {
    globalData global;
    TEV::Rest::Client* made = EnsureClient(&global);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made, global.client.get());
    EXPECT_TRUE(made->valid);
    EXPECT_EQ(made->getPluginId(), "ExamplePlugin");
    EXPECT_EQ(made->getPluginVersion(), "1.0.0");
    EXPECT_EQ(EnsureClient(&global), made);
    EXPECT_TRUE(global.retired_clients.empty());
}

TEST(PluginClient, EnsureClientRetiresAnInvalidClientInsteadOfDestroyingIt) {
    globalData global;
    TEV::Rest::Client* old = EnsureClient(&global);
    old->valid = false;
    TEV::Rest::Client* fresh = EnsureClient(&global);
    EXPECT_NE(fresh, old);
    ASSERT_EQ(global.retired_clients.size(), 1u);
    EXPECT_EQ(global.retired_clients[0].get(), old);  // still alive for a render that holds it
    EXPECT_EQ(old->getPluginId(), "ExamplePlugin");
}

TEST(PluginClient, ThreadsThatFindNoClientAllGetTheSameNewOne) {
    globalData global;
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<TEV::Rest::Client*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < kThreads) std::this_thread::yield();
            seen[t] = EnsureClient(&global);
        });
    for (std::thread& thread : threads) thread.join();
    for (TEV::Rest::Client* client : seen) EXPECT_EQ(client, global.client.get());
    EXPECT_TRUE(global.retired_clients.empty());
}

}  // namespace
