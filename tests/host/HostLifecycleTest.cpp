// The host driving test_effect through every command in host order.
#include <cstring>

#include "HostTestSupport.h"
#include "ThrownError.h"

namespace TEV::Host::Testing {
namespace {

TEST(HostLifecycle, DrivesEveryCommandAtEveryDepthAndTheBooksBalance) {
    HeadlessHost host;
    host.load(TEST_EFFECT_PATH);
    host.globalSetup().expectOk();
    EXPECT_EQ(host.declaredVersion(), PF_VERSION(1, 0, 0, PF_Stage_DEVELOP, 1));
    EXPECT_TRUE(host.declaredOutFlags2() & PF_OutFlag2_SUPPORTS_SMART_RENDER);
    host.paramsSetup().expectOk();
    InstanceId inst = host.createInstance();
    host.setParam(inst, "Gain", 2.0);

    for (int depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        PixelWorld input(16, 9, depth);
        input.fill(Rgba{0.25f, 0.1f, 0.4f, 1.0f});
        RenderResult r = host.render(inst, input);
        ASSERT_TRUE(r.ok()) << r.pre_render.describe() << " / " << r.render.describe();
        EXPECT_EQ(r.result_rect.right, 16);
        EXPECT_EQ(r.max_result_rect.bottom, 9);
        Rgba out = r.output.get(15, 8);
        EXPECT_NEAR(out.r, 0.5f, 0.01f);
        EXPECT_NEAR(out.g, 0.2f, 0.01f);
        EXPECT_NEAR(out.b, 0.8f, 0.01f);
        EXPECT_FLOAT_EQ(out.a, 1.0f);
        EXPECT_TRUE(r.output.paddingIntact());
    }

    CommandResult ui = host.updateParamsUI(inst);
    ui.expectOk();
    EXPECT_TRUE(ui.out_flags & PF_OutFlag_REFRESH_UI);
    EXPECT_TRUE(host.paramHidden(inst, kStamp));
    EXPECT_FALSE(host.paramHidden(inst, kGain));

    host.userChangedParam(inst, kReset).expectOk();
    EXPECT_DOUBLE_EQ(host.paramValue(inst, "Gain"), 1.0);
    EXPECT_DOUBLE_EQ(host.paramValue(inst, kStamp), std::strlen("instance-1"));

    host.sendCommand(inst, PF_Cmd_DO_DIALOG).expectOk();
    host.destroyInstance(inst);
    host.globalSetdown().expectOk();

    EXPECT_EQ(host.unbalanced(), std::vector<std::string>{});
    Books b = host.books();
    EXPECT_GE(b.suites.size(), 15u);  // every suite the effect uses, Drawbot included
    EXPECT_EQ(b.suitesOutstanding(), 0);
    EXPECT_EQ(b.handles_allocated, b.handles_disposed + b.handles_reclaimed);
    EXPECT_EQ(b.handles_live, 0);
    EXPECT_EQ(b.params_checked_out, 3 * 3);
    EXPECT_EQ(b.params_checked_in, b.params_checked_out);
    EXPECT_EQ(b.pre_render_data_handed_out, 3);
    EXPECT_EQ(b.pre_render_data_freed, 3);
    EXPECT_EQ(b.layers_checked_out, 3);
    EXPECT_EQ(b.outputs_checked_out, 3);
    EXPECT_EQ(b.effect_refs_made, 2);
    EXPECT_EQ(b.stream_values_made, 1);
    EXPECT_EQ(b.options_button_name, "Options");
    EXPECT_EQ(b.registered_aegp_names, std::vector<std::string>{"TestEffect"});
    EXPECT_TRUE(b.unsupported_calls.empty());
    EXPECT_EQ(host.preference("TestEffect", "seen"), "hello, 1");
    EXPECT_EQ(host.preference("TestEffect", "greeting"), "hello");  // the default was stored
}

TEST(HostLifecycle, ListsParametersAsRegistered) {
    LoadedEffect fx;
    std::vector<ParamInfo> params = fx.host.params();
    ASSERT_EQ(params.size(), 6u);
    EXPECT_EQ(params[0].type, PF_Param_LAYER);
    EXPECT_EQ(params[kReset].type_name, "button");
    EXPECT_EQ(params[kReset].label, "Reset gain");
    EXPECT_EQ(params[kReset].flags, PF_ParamFlag_SUPERVISE);
    EXPECT_EQ(params[kGain].name, "Gain");
    EXPECT_EQ(params[kGain].id, 12);
    EXPECT_DOUBLE_EQ(params[kGain].default_value, 1.0);
    EXPECT_DOUBLE_EQ(params[kGain].valid_max, 4.0);
    EXPECT_EQ(params[kGain].precision, PF_Precision_HUNDREDTHS);
    EXPECT_EQ(params[kInvert].type, PF_Param_CHECKBOX);
    EXPECT_EQ(params[kMode].choices,
              (std::vector<std::string>{"Copy", "Count visits", "Throw in pixel function", "Fail render"}));
    EXPECT_DOUBLE_EQ(params[kMode].default_value, 1);
    EXPECT_EQ(fx.host.paramIndex("Stamp"), kStamp);

    PluginInfo info = fx.host.pluginInfo();
    EXPECT_TRUE(info.present);
    EXPECT_EQ(info.match_name, "TEV TestEffect");
    EXPECT_EQ(info.api_major, PF_PLUG_IN_VERSION);
}

TEST(HostLifecycle, SettingParametersChecksNameKindAndRange) {
    LoadedEffect fx;
    EXPECT_THROW(fx.host.setParam(fx.inst, "Volume", 1), HostError);
    EXPECT_THROW(fx.host.setParam(fx.inst, "Gain", 4.5), HostError);
    EXPECT_THROW(fx.host.setParam(fx.inst, "Reset", 1), HostError);
    EXPECT_THROW(fx.host.setParam(fx.inst, "Invert", 0.5), HostError);
    EXPECT_THROW(fx.host.setParam(fx.inst, "Mode", 5), HostError);
    fx.host.setParamChoice(fx.inst, "Mode", "Fail render");
    EXPECT_DOUBLE_EQ(fx.host.paramValue(fx.inst, "Mode"), kModeFail);
    EXPECT_THROW(fx.host.setParamChoice(fx.inst, "Mode", "fail render"), HostError);
    EXPECT_STREQ(TEV::Test::thrownBy<HostError>([&] { fx.host.setParam(fx.inst, "Gain", -1); }).what(),
                 "parameter 2 (\"Gain\"): value -1 outside 0 .. 4");
}

TEST(HostLifecycle, UpdateParamsUITakesOverUiFlagsThroughParamUtils) {
    LoadedEffect fx;
    fx.host.updateParamsUI(fx.inst).expectOk();
    EXPECT_FALSE(fx.host.params(fx.inst)[kInvert].ui_flags & PF_PUI_DISABLED);
    fx.host.setParam(fx.inst, "Mode", kModeCount);
    fx.host.updateParamsUI(fx.inst).expectOk();
    EXPECT_TRUE(fx.host.params(fx.inst)[kInvert].ui_flags & PF_PUI_DISABLED);
    EXPECT_EQ(fx.host.books().param_ui_updates, 2);
}

TEST(HostLifecycle, InstancesOwnTheirSequenceDataAndResetupReplacesIt) {
    LoadedEffect fx;
    InstanceId second = fx.host.createInstance();
    std::string first_text = fx.host.sequenceData(fx.inst).data();
    std::string second_text = fx.host.sequenceData(second).data();
    EXPECT_NE(first_text, second_text);
    EXPECT_EQ(fx.host.sequenceData(fx.inst).size(), 64u);

    fx.host.sequenceResetup(second).expectOk();
    EXPECT_NE(std::string(fx.host.sequenceData(second).data()), second_text);
    // test_effect leaves the replaced block to the host, which drops it.
    EXPECT_EQ(fx.host.books().handles_reclaimed, 1);
    EXPECT_EQ(fx.host.unbalanced(), std::vector<std::string>{});

    fx.host.destroyInstance(second);
    fx.host.destroyInstance(fx.inst);
    fx.host.globalSetdown().expectOk();
    EXPECT_EQ(fx.host.unbalanced(), std::vector<std::string>{});
    EXPECT_EQ(fx.host.books().handles_live, 0);
}

TEST(HostLifecycle, InDataCarriesTheHostsIdentityAndGeometry) {
    HostOptions ae;
    ae.downsample_x = {1, 2};
    LoadedEffect fx(ae);
    EXPECT_EQ(fx.host.sendCommand(fx.inst, PF_Cmd_DO_DIALOG).return_msg, "FXTC 13.28 downsample 1/2 par 1/1");

    HostOptions premiere;
    premiere.app = HostApp::PremierePro;
    premiere.pixel_aspect_ratio = {10, 11};
    LoadedEffect pr(premiere);
    EXPECT_EQ(pr.host.sendCommand(pr.inst, PF_Cmd_DO_DIALOG).return_msg, "PrMr 13.28 downsample 1/1 par 10/11");
}

TEST(HostLifecycle, DestructorSetsDownWhatIsStillSetUp) {
    {
        LoadedEffect fx;
        fx.host.createInstance();
    }
    // Nothing to observe after destruction but the absence of leaks under
    // the sanitizers; a second host in the same process must start clean.
    LoadedEffect again;
    EXPECT_EQ(again.host.books().handles_live, 2);  // global data and one sequence block
}

}  // namespace
}  // namespace TEV::Host::Testing
