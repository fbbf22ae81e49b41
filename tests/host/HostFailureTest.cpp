// What the host reports when loading fails, when suites are withheld, and
// when a plug-in leaks or unbalances what it takes.
#include <algorithm>

#include "HostTestSupport.h"
#include "ThrownError.h"

namespace TEV::Host::Testing {
namespace {

bool mentions(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

std::string loadError(const std::string& path) {
    HeadlessHost host;
    const std::string what = TEV::Test::thrownBy<HostError>([&] { host.load(path); }).what();
    EXPECT_FALSE(host.loaded());
    return what;
}

TEST(HostLoading, MissingLibraryAndMissingEntryPointGiveClearMessages) {
    std::string missing = loadError("/nonexistent/effect.so");
    EXPECT_EQ(missing.rfind("cannot load plug-in '/nonexistent/effect.so': ", 0), 0u) << missing;

    std::string no_entry = loadError(NO_ENTRY_EFFECT_PATH);
    EXPECT_EQ(no_entry.rfind(std::string("plug-in '") + NO_ENTRY_EFFECT_PATH + "' has no entry point 'EffectMain'", 0),
              0u)
        << no_entry;
}

TEST(HostLoading, CommandsBeforeLoadingAreRefused) {
    HeadlessHost host;
    EXPECT_STREQ(TEV::Test::thrownBy<HostError>([&] { host.globalSetup(); }).what(),
                 "cannot send PF_Cmd_GLOBAL_SETUP: no plug-in is loaded");
}

TEST(WithheldSuites, MissingSequenceDataSuiteGives13WithTheMessage) {
    HostOptions options;
    options.withheld_suites.push_back({kPFEffectSequenceDataSuite, 1});
    LoadedEffect fx(options);
    CommandResult r = fx.host.userChangedParam(fx.inst, kReset);
    EXPECT_EQ(r.err, A_Err_MISSING_SUITE);
    EXPECT_EQ(r.return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_TRUE(r.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_EQ(r.describe(), "PF_Cmd_USER_CHANGED_PARAM (13) failed with error 13 (A_Err_MISSING_SUITE): "
                            "Not able to acquire AEFX Suite.");
    Books b = fx.host.books();
    EXPECT_EQ(b.suites_refused.back(), std::make_pair(std::string(kPFEffectSequenceDataSuite), 1));
}

TEST(WithheldSuites, NullTableWithoutErrorIsCaughtAndGivenBack) {
    HostOptions options;
    options.withheld_suites.push_back({kPFEffectSequenceDataSuite, SuiteId::kAnyVersion});
    options.withholding = Withholding::NullWithoutError;
    LoadedEffect fx(options);
    EXPECT_EQ(fx.host.userChangedParam(fx.inst, kReset).err, A_Err_MISSING_SUITE);
    EXPECT_EQ(fx.host.books().suitesOutstanding(), 0);
}

TEST(WithheldSuites, MissingWorldSuiteStopsTheRenderWith516) {
    HostOptions options;
    options.withheld_suites.push_back({kPFWorldSuite, 2});
    LoadedEffect fx(options);
    PixelWorld input(8, 8, 8);
    input.fill(Rgba{1, 1, 1, 1});
    RenderResult r = fx.host.render(fx.inst, input);
    EXPECT_EQ(r.err(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(r.render.return_msg, "Couldn't load suite.");
    EXPECT_EQ(r.output.get(0, 0).a, 0.0f);  // nothing written
}

TEST(WithheldSuites, MissingHandleSuiteFailsGlobalSetupThroughTheHandler) {
    HostOptions options;
    options.withheld_suites.push_back({kPFHandleSuite, SuiteId::kAnyVersion});
    HeadlessHost host(options);
    host.load(TEST_EFFECT_PATH);
    CommandResult r = host.globalSetup();
    EXPECT_EQ(r.err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(r.describe(), "PF_Cmd_GLOBAL_SETUP (1) failed with error 516 (PF_Err_BAD_CALLBACK_PARAM)");
    EXPECT_THROW(r.expectOk(), HostError);
}

TEST(WithheldSuites, AHostWithoutAegpSuitesRefusesTheRegistration) {
    HeadlessHost host(HostOptions::premiereWithoutAegp());
    host.load(TEST_EFFECT_PATH);
    CommandResult r = host.globalSetup();
    EXPECT_EQ(r.err, PF_Err_BAD_CALLBACK_PARAM);
    Books b = host.books();
    EXPECT_EQ(b.suites_refused.front(), std::make_pair(std::string(kAEGPUtilitySuite), 11));
    EXPECT_EQ(b.suitesOutstanding(), 0);  // the handler released what it had
    // The global data allocated before the failure was never disposed.
    EXPECT_TRUE(mentions(host.unbalanced(), "1 handle(s) not disposed"));
}

TEST(Books, ALeakyEffectIsReportedForEveryKindOfImbalance) {
    HeadlessHost host;
    host.load(LEAKY_EFFECT_PATH);
    host.globalSetup().expectOk();
    host.paramsSetup().expectOk();
    InstanceId inst = host.createInstance();
    PixelWorld input(8, 8, 16);
    ASSERT_TRUE(host.render(inst, input).ok());
    host.updateParamsUI(inst).expectOk();
    host.globalSetdown().expectOk();

    std::vector<std::string> report = host.unbalanced();
    std::string all;
    for (const std::string& line : report) {
        all += line + "\n";
    }
    EXPECT_TRUE(mentions(report, "suite \"PF Effect UI Suite\" version 1 acquired 1 time(s), released 0")) << all;
    EXPECT_TRUE(mentions(report, "handle(s) not disposed")) << all;  // global data and pre-render data
    EXPECT_TRUE(mentions(report, "parameters checked out: 3 vs 2 checked in")) << all;
    EXPECT_TRUE(mentions(report, "pre-render data handed out: 1 vs 0 freed")) << all;
    EXPECT_TRUE(mentions(report, "stream references made: 2 vs 1 disposed")) << all;
    EXPECT_EQ(host.books().pre_render_data_dropped, 1);

    // The instance's sequence data is still the host's to drop.
    host.destroyInstance(inst);
    EXPECT_EQ(host.books().handles_reclaimed, 1);
    EXPECT_TRUE(mentions(host.unbalanced(), "misuse: stream reference of instance"));
}

TEST(Books, AWellBehavedEffectLeavesNothingOutstanding) {
    LoadedEffect fx;
    PixelWorld input(8, 8, 32);
    ASSERT_TRUE(fx.host.render(fx.inst, input).ok());
    fx.host.updateParamsUI(fx.inst).expectOk();
    // Before setdown the host still holds the global data and the sequence
    // data for the plug-in: that is not a leak.
    EXPECT_EQ(fx.host.unbalanced(), std::vector<std::string>{});
    EXPECT_EQ(fx.host.books().handles_live, 2);
}

}  // namespace
}  // namespace TEV::Host::Testing
