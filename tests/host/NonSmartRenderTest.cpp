// Rendering without smart rendering (RenderCommands::NonSmart): frame setup,
// render and frame setdown with the input in params[0], the values in the
// params array and the output world as EffectMain's `output`.
#include "HostTestSupport.h"

namespace TEV::Host::Testing {
namespace {

HostOptions nonSmart() {
    HostOptions options;  // After Effects' identity and suites, so that test_effect sets up
    options.render_commands = RenderCommands::NonSmart;
    return options;
}

TEST(NonSmartRender, TheFrameCommandsCarryTheInputTheValuesAndTheOutputAtBothDepths) {
    LoadedEffect fx(nonSmart());
    fx.host.setParam(fx.inst, "Gain", 0.5);
    fx.host.setParam(fx.inst, "Invert", 1);
    PixelWorld in8(5, 3, 8);
    in8.pixel8(1, 2) = PF_Pixel{255, 200, 100, 0};
    RenderResult r8 = fx.host.render(fx.inst, in8);
    ASSERT_TRUE(r8.ok()) << r8.pre_render.describe() << " / " << r8.render.describe();
    EXPECT_EQ(r8.pre_render.command, PF_Cmd_FRAME_SETUP);
    EXPECT_EQ(r8.render.command, PF_Cmd_RENDER);
    EXPECT_EQ(r8.setdown.command, PF_Cmd_FRAME_SETDOWN);
    const PF_Pixel& p8 = r8.output.pixel8(1, 2);
    EXPECT_EQ(p8.red, 155);  // 255 - 100 × 0.5
    EXPECT_EQ(p8.green, 205);
    EXPECT_EQ(p8.blue, 255);
    EXPECT_TRUE(r8.output.paddingIntact());

    PixelWorld in16(5, 3, 16);
    in16.pixel16(4, 0) = PF_Pixel16{32768, 32768, 16384, 0};
    RenderResult r16 = fx.host.render(fx.inst, in16);
    ASSERT_TRUE(r16.ok()) << r16.render.describe();
    const PF_Pixel16& p16 = r16.output.pixel16(4, 0);
    EXPECT_EQ(p16.red, 16384);  // 32768 - 32768 × 0.5
    EXPECT_EQ(p16.green, 24576);
    EXPECT_EQ(p16.blue, 32768);

    const Books b = fx.host.books();
    EXPECT_EQ(b.frames_set_up, 2);
    EXPECT_EQ(b.frames_set_down, 2);
    EXPECT_EQ(b.params_checked_out, 0) << "the values came with the commands";
    EXPECT_EQ(b.pre_render_data_handed_out, 0);
    EXPECT_EQ(b.layers_checked_out + b.layer_pixels_checked_out + b.outputs_checked_out, 0);
    EXPECT_EQ(fx.host.unbalanced(), std::vector<std::string>{});
}

TEST(NonSmartRender, AFailedRenderIsStillSetDownSoThatItsFrameDataIsFreed) {
    LoadedEffect fx(nonSmart());
    fx.host.setParam(fx.inst, "Mode", kModeFail);
    PixelWorld input(4, 4, 8);
    RenderResult r = fx.host.render(fx.inst, input);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.err(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(r.setdown.command, PF_Cmd_FRAME_SETDOWN);
    EXPECT_EQ(fx.host.books().frames_set_down, 1);
    EXPECT_EQ(fx.host.unbalanced(), std::vector<std::string>{}) << "setdown freed the frame data";
}

TEST(NonSmartRender, FrameDataTheEffectDoesNotFreeIsReported) {
    LoadedEffect fx(nonSmart(), LEAKY_EFFECT_PATH);
    PixelWorld input(4, 4, 16);
    ASSERT_TRUE(fx.host.render(fx.inst, input).ok());
    bool reported = false;
    for (const std::string& line : fx.host.unbalanced()) reported |= line.find("handle(s) not disposed") != std::string::npos;
    EXPECT_TRUE(reported);
}

TEST(NonSmartRender, ThePremiereProProfileRendersWithoutSmartCommandsOrAegpSuites) {
    const HostOptions premiere = HostOptions::forProfile(HostProfile::PremierePro);
    EXPECT_EQ(premiere.app, HostApp::PremierePro);
    EXPECT_EQ(premiere.render_commands, RenderCommands::NonSmart);
    for (const SuiteId& id : premiere.withheld_suites) EXPECT_EQ(id.name.rfind("AEGP ", 0), 0u) << id.name;
    EXPECT_FALSE(premiere.withheld_suites.empty());
    const HostOptions ae = HostOptions::forProfile(HostProfile::AfterEffects);
    EXPECT_EQ(ae.app, HostApp::AfterEffects);
    EXPECT_EQ(ae.render_commands, RenderCommands::Smart);
    EXPECT_TRUE(ae.withheld_suites.empty());
    EXPECT_EQ(HostOptions{}.render_commands, RenderCommands::Smart) << "After Effects stays the default";
}

TEST(NonSmartRender, AFailedFrameSetdownIsTheFramesError) {
    RenderResult r;
    r.pre_render.command = PF_Cmd_FRAME_SETUP;
    r.render.command = PF_Cmd_RENDER;
    r.setdown.command = PF_Cmd_FRAME_SETDOWN;
    r.setdown.err = PF_Err_OUT_OF_MEMORY;
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.err(), PF_Err_OUT_OF_MEMORY);
}

}  // namespace
}  // namespace TEV::Host::Testing
