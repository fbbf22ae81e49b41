// Global setup and setdown as the host sees them: version, flags, the log
// lines, AEGP registration, and the host tag in other hosts.
#include <gmock/gmock.h>

#include "PluginTestSupport.h"

namespace TEV::PluginTest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(PluginTest, GlobalSetupDeclaresTheVersionAndFlagsAndRegistersWithAegp) {
    start();
    EXPECT_EQ(host->declaredVersion(), 0x80001u);
    EXPECT_EQ(host->declaredOutFlags(), 0x06008424);
    EXPECT_EQ(host->declaredOutFlags2(), 0x08001409);
    const Books books = host->books();
    EXPECT_THAT(books.registered_aegp_names, ElementsAre("ExamplePlugin"));
    EXPECT_EQ(books.options_button_name, "Options");
}

TEST_F(PluginTest, GlobalSetupLogsWelcomeAndTheIdentificationLineOfAfterEffects) {
    start();
    EXPECT_THAT(logMessages(), ElementsAre("welcome!", "ExamplePlugin, v1.0.0 in ae13"));
}

TEST_F(PluginTest, IdentificationLineCarriesTheHostsApiMajorVersion) {
    HostOptions options;
    options.api_version.major = 16;
    start(options);
    EXPECT_THAT(logMessages(), ElementsAre("welcome!", "ExamplePlugin, v1.0.0 in ae16"));
}

TEST_F(PluginTest, GlobalSetupAssignsOutFlagsAndOrsOutFlags2IntoWhatTheHostPreset) {
    FaultShimConfig config;
    config.preset_out_flags = PF_OutFlag_KEEP_RESOURCE_OPEN;
    config.preset_out_flags2 = PF_OutFlag2_PRESERVES_FULLY_OPAQUE_PIXELS;
    startShim(config);
    EXPECT_EQ(host->declaredOutFlags(), 0x06008424);
    EXPECT_EQ(host->declaredOutFlags2(), 0x08001409 | PF_OutFlag2_PRESERVES_FULLY_OPAQUE_PIXELS);
}

TEST_F(PluginTest, InPremiereWithoutAegpSuitesGlobalSetupSkipsRegistrationAndSucceeds) {
    start(HostOptions::premiereWithoutAegp());
    EXPECT_THAT(logMessages(), ElementsAre("welcome!", "ExamplePlugin, v1.0.0 in premiere13"));
    const Books books = host->books();
    EXPECT_THAT(books.registered_aegp_names, IsEmpty());
    bool utility_refused = false;
    for (const auto& [name, version] : books.suites_refused) utility_refused |= name == "AEGP Utility Suite";
    EXPECT_TRUE(utility_refused) << "the plug-in never asked for the AEGP Utility Suite";
    EXPECT_EQ(host->declaredOutFlags(), 0x06008424);
}

TEST_F(PluginTest, InAHostThatIsNeitherAfterEffectsNorPremiereTheTagIsTheBareNumber) {
    FaultShimConfig config;
    config.appl_id = 'XTRA';
    startShim(config);
    EXPECT_THAT(logMessages(), ElementsAre("welcome!", "ExamplePlugin, v1.0.0 in 13"));
}

TEST_F(PluginTest, GlobalSetdownLogsItsTraceLineAndGivesTheGlobalDataBack) {
    start();
    const long live_before = host->books().handles_live;
    host->globalSetdown().expectOk();
    EXPECT_EQ(logMessages().back(), "At line 185");
    EXPECT_EQ(host->books().handles_live, live_before - 1);
}

}  // namespace
}  // namespace TEV::PluginTest
