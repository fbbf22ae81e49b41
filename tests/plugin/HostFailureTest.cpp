// What the host gets back when the host itself falls short: missing suites,
// a failing parameter check-out, an unsupported bit depth; and the commands
// the effect doesn't handle.
#include <gmock/gmock.h>

#include "PluginTestSupport.h"

namespace TEV::PluginTest {
namespace {

HostOptions withholding(const char* suite) {
    HostOptions options;
    options.withheld_suites.push_back(SuiteId{suite, SuiteId::kAnyVersion});
    return options;
}

PixelWorld smallFrame(int depth = 8) {
    PixelWorld world(8, 4, depth);
    world.fillGradient();
    return world;
}

TEST_F(PluginTest, WithoutTheWorldSuiteARenderFailsWith516AndCouldNotLoadSuite) {
    startServer().setJobScript(invertingJob());
    start(withholding("PF World Suite"));
    const InstanceId inst = host->createInstance();
    const RenderResult r = host->render(inst, smallFrame());
    EXPECT_EQ(r.render.err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(r.render.return_msg, "Couldn't load suite.");
    EXPECT_TRUE(r.render.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_TRUE(allZero(r.output));
    EXPECT_EQ(server->requestCount(), 0u);
}

TEST_F(PluginTest, WithoutTheIterateSuiteOfTheDepthARenderFailsWith516AndSendsNothing) {
    startServer().setJobScript(invertingJob());
    start(withholding("PF Iterate8 Suite"));
    const InstanceId inst = host->createInstance();
    const RenderResult r = host->render(inst, smallFrame(8));
    EXPECT_EQ(r.render.err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(allZero(r.output));
    EXPECT_EQ(server->requestCount(), 0u);
    // The other depths are not affected.
    EXPECT_TRUE(host->render(inst, smallFrame(16)).ok());
}

TEST_F(PluginTest, WithoutTheSequenceDataSuiteRenderAndReportFailWith13AndTheMessage) {
    startServer().setJobScript(invertingJob());
    start(withholding("PF Effect Sequence Data Suite"));
    const InstanceId inst = host->createInstance();
    const RenderResult r = host->render(inst, smallFrame());
    EXPECT_EQ(r.render.err, 13);
    EXPECT_EQ(r.render.return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_TRUE(r.render.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_TRUE(allZero(r.output));

    const CommandResult report = host->userChangedParam(inst, kSaturation);
    EXPECT_EQ(report.err, 13);
    EXPECT_EQ(report.return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_EQ(server->requestCount(), 0u);
}

TEST_F(PluginTest, WithoutTheHandleSuiteGlobalSetupFailsWith516AndKeepsNothing) {
    load(withholding("PF Handle Suite"));
    const CommandResult r = host->globalSetup();
    EXPECT_EQ(r.err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host->books().handles_allocated, 0);
}

TEST_F(PluginTest, AFailingParameterCheckOutEndsPreRenderWithItsErrorAndChecksTheOthersBackIn) {
    startServer().setJobScript(invertingJob());
    FaultShimConfig config;
    config.fail_checkout_index = kSaturation;
    config.checkout_error = PF_Err_OUT_OF_MEMORY;
    startShim(config);
    const InstanceId inst = host->createInstance();
    const RenderResult r = host->render(inst, smallFrame());
    EXPECT_EQ(r.pre_render.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(r.render.command, PF_Cmd_ABOUT) << "smart render was sent";
    const Books books = host->books();
    EXPECT_EQ(books.params_checked_out, kSaturation - 1);
    EXPECT_EQ(books.params_checked_in, kSaturation - 1);
    EXPECT_EQ(books.pre_render_data_handed_out, 0);
    EXPECT_EQ(books.handles_allocated, books.handles_disposed + books.handles_live);
    EXPECT_EQ(server->requestCount(), 0u);
}

TEST_F(PluginTest, ABitDepthOtherThan8Or16Or32FailsWith512AndSendsNothing) {
    startServer().setJobScript(invertingJob());
    FaultShimConfig config;
    config.render_bitdepth = 10;
    startShim(config);
    const InstanceId inst = host->createInstance();
    const RenderResult r = host->render(inst, smallFrame());
    EXPECT_EQ(r.render.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(allZero(r.output));
    EXPECT_EQ(server->requestCount(), 0u);
}

TEST_F(PluginTest, CommandsTheEffectDoesNotHandleSucceedAndChangeNothing) {
    startServer();
    start();
    const InstanceId inst = host->createInstance();
    const std::vector<char> block = host->sequenceData(inst);
    for (PF_Cmd cmd : {PF_Cmd_ABOUT, PF_Cmd_SEQUENCE_FLATTEN, PF_Cmd_DO_DIALOG, PF_Cmd_FRAME_SETUP, PF_Cmd_RENDER,
                       PF_Cmd_FRAME_SETDOWN, PF_Cmd_EVENT, PF_Cmd_QUERY_DYNAMIC_FLAGS}) {
        SCOPED_TRACE(commandName(cmd));
        const CommandResult r = host->sendCommand(inst, cmd);
        EXPECT_EQ(r.err, PF_Err_NONE);
        EXPECT_EQ(r.out_flags, 0);
        EXPECT_EQ(r.return_msg, "");
    }
    EXPECT_EQ(host->sequenceData(inst), block);
    EXPECT_EQ(server->requestCount(), 0u);
}

}  // namespace
}  // namespace TEV::PluginTest
