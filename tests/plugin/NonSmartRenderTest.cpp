// The plug-in in a host without smart rendering: the same request as the
// smart path, and what happens to a frame it can't process.
#include <gmock/gmock.h>

#include "PluginTestSupport.h"

namespace TEV::PluginTest {
namespace {

// The render call as encoded bytes, without what differs between two calls
// of the same frame: the request id and the instance id.
std::string comparable(const ReceivedRequest& call) {
    Dict message = call.message;
    auto& fields = std::get<std::map<std::string, Dict>>(message.value);
    fields.erase("request_id");
    std::get<std::map<std::string, Dict>>(fields.at("args").value).erase("instance_id");
    const msgpack::sbuffer bytes = encode_message(message);
    return std::string(bytes.data(), bytes.size());
}

TEST_F(PluginTest, TheSmartAndTheNonSmartPathSendTheSameRequestForTheSameFrameAndParameters) {
    for (int depth : {8, 16}) {
        SCOPED_TRACE(depth);
        PixelWorld input(31, 17, depth);
        input.fillGradient();
        std::vector<std::string> sent;
        std::vector<PixelWorld> outputs;
        for (HostProfile profile : {HostProfile::AfterEffects, HostProfile::PremierePro}) {
            startServer().setJobScript(invertingJob());
            start(HostOptions::forProfile(profile));
            const InstanceId inst = host->createInstance();
            host->setParam(inst, "Brightness", 1.37);
            host->setParam(inst, "Contrast", 0.61);
            host->setParam(inst, "Enable Effect", 0);
            host->setParamChoice(inst, "Type", "OpenCV");
            RenderResult r = host->render(inst, input);
            ASSERT_TRUE(r.ok()) << r.render.describe();
            const std::vector<ReceivedRequest> calls = renderCalls();
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].message.get("args").getString("instance_id", ""),
                      std::string(host->sequenceData(inst).data()));
            sent.push_back(comparable(calls[0]));
            outputs.push_back(std::move(r.output));
            TearDown();  // global setdown with the books checked; host and server gone
        }
        EXPECT_TRUE(sent[0] == sent[1]) << "the two paths sent different requests";
        EXPECT_EQ(differingPixels(outputs[0], outputs[1]), 0);
        EXPECT_EQ(differingPixels(outputs[1], worldFromImage(inverted(imageFromWorld(input)))), 0);
    }
}

TEST_F(PluginTest, WithoutSmartRenderingAFloatFrameIsPassedOnUnchangedWithALogLine) {
    startServer().setJobScript(invertingJob());
    start(HostOptions::forProfile(HostProfile::PremierePro));
    const InstanceId inst = host->createInstance();
    PixelWorld input(23, 9, 32);
    input.fillGradient();
    input.pixelFloat(3, 4) = PF_PixelFloat{0.25f, 1.5f, -0.125f, 0.75f};  // outside 0..1 stays as it is
    const RenderResult r = host->render(inst, input);
    ASSERT_TRUE(r.ok()) << r.render.describe();
    EXPECT_EQ(differingPixels(r.output, input), 0);
    EXPECT_TRUE(r.output.paddingIntact());
    EXPECT_EQ(server->requestCount(), 0u);
    EXPECT_EQ(logMessages().back(),
              "Error in Render: a frame in pixel format 'ae32' (output 'ae32') can't be processed without smart "
              "rendering; it is passed on unchanged");
    EXPECT_EQ(host->books().worlds_copied, 1);

    // The next 8-bit frame goes to the server as usual.
    PixelWorld next(23, 9, 8);
    next.fillGradient();
    ASSERT_TRUE(host->render(inst, next).ok());
    EXPECT_EQ(renderCalls().size(), 1u);
}

}  // namespace
}  // namespace TEV::PluginTest
