// The parameter table as the host registered it.
#include <gmock/gmock.h>

#include "PluginTestSupport.h"

namespace TEV::PluginTest {
namespace {

using ::testing::ElementsAre;

void expectAdjustmentSlider(const ParamInfo& p, const std::string& name, A_long id) {
    SCOPED_TRACE(name);
    EXPECT_EQ(p.name, name);
    EXPECT_EQ(p.type, PF_Param_FLOAT_SLIDER);
    EXPECT_EQ(p.id, id);
    EXPECT_EQ(p.flags, 0);
    EXPECT_EQ(p.default_value, 1.0);
    EXPECT_EQ(p.valid_min, 0.0);
    EXPECT_EQ(p.valid_max, 2.0);
    EXPECT_EQ(p.slider_min, 0.0);
    EXPECT_EQ(p.slider_max, 2.0);
    EXPECT_EQ(p.precision, 2);
    EXPECT_EQ(p.display_flags, 0x200);
}

TEST_F(PluginTest, ParameterSetupRegistersSevenParametersAfterTheInputLayer) {
    start();
    const std::vector<ParamInfo> params = host->params();
    ASSERT_EQ(params.size(), 8u);
    EXPECT_EQ(params[0].type, PF_Param_LAYER);

    const ParamInfo& reconnect = params[kReconnect];
    EXPECT_EQ(reconnect.name, "Start TEVORA and then: ");
    EXPECT_EQ(reconnect.type, PF_Param_BUTTON);
    EXPECT_EQ(reconnect.id, 7005);
    EXPECT_EQ(reconnect.flags, PF_ParamFlag_SUPERVISE);
    EXPECT_EQ(reconnect.label, "Reconnect");

    const ParamInfo& stamp = params[kTimestamp];
    EXPECT_EQ(stamp.name, "Connection Timestamp");
    EXPECT_EQ(stamp.type, PF_Param_FLOAT_SLIDER);
    EXPECT_EQ(stamp.id, 7006);
    EXPECT_EQ(stamp.flags, 0);
    EXPECT_EQ(stamp.default_value, 0.0);
    EXPECT_EQ(stamp.valid_min, 0.0);
    EXPECT_EQ(stamp.valid_max, 2549999992832.0);
    EXPECT_EQ(stamp.slider_max, 2549999992832.0);
    EXPECT_EQ(stamp.precision, 0);
    EXPECT_EQ(stamp.display_flags, 2);

    expectAdjustmentSlider(params[kBrightness], "Brightness", 1);
    expectAdjustmentSlider(params[kContrast], "Contrast", 2);
    expectAdjustmentSlider(params[kSaturation], "Saturation", 3);

    const ParamInfo& enable = params[kEnable];
    EXPECT_EQ(enable.name, "Enable Effect");
    EXPECT_EQ(enable.type, PF_Param_CHECKBOX);
    EXPECT_EQ(enable.id, 4);
    EXPECT_EQ(enable.default_value, 1.0);
    EXPECT_EQ(enable.label, "");

    const ParamInfo& type = params[kType];
    EXPECT_EQ(type.name, "Type");
    EXPECT_EQ(type.type, PF_Param_POPUP);
    EXPECT_EQ(type.id, 5);
    EXPECT_EQ(type.flags, PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN);
    EXPECT_EQ(type.default_value, 1.0);
    EXPECT_THAT(type.choices, ElementsAre("Skip benchmarking", "Return Image without modifying", "OpenCV",
                                          "Tensor(CPU)", "Tensor(GPU)", "Torch(MPS)"));
}

TEST_F(PluginTest, ANewInstanceStartsWithTheDefaultValues) {
    start();
    const InstanceId inst = host->createInstance();
    EXPECT_EQ(host->paramValue(inst, kTimestamp), 0.0);
    EXPECT_EQ(host->paramValue(inst, kBrightness), 1.0);
    EXPECT_EQ(host->paramValue(inst, kContrast), 1.0);
    EXPECT_EQ(host->paramValue(inst, kSaturation), 1.0);
    EXPECT_EQ(host->paramValue(inst, kEnable), 1.0);
    EXPECT_EQ(host->paramValue(inst, kType), 1.0);
}

}  // namespace
}  // namespace TEV::PluginTest
