// Instance identity: the sequence data block, its id in renders and reports,
// re-setup, and an instance without sequence data.
#include <regex>

#include "PluginTestSupport.h"

namespace TEV::PluginTest {
namespace {

// The id stored at the start of an instance's block; checks the block's form.
std::string storedId(const HeadlessHost& host, InstanceId inst) {
    static const std::regex uuid4("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    const std::vector<char> block = host.sequenceData(inst);
    EXPECT_EQ(block.size(), 255u);
    if (block.size() < 37) return "";
    EXPECT_EQ(block[36], '\0');
    const std::string id(block.data(), 36);
    EXPECT_TRUE(std::regex_match(id, uuid4)) << id;
    return id;
}

TEST_F(PluginTest, TwoInstancesCarryDifferentIdsAndEachRequestNamesItsOwn) {
    startServer().setJobScript(invertingJob());
    start();
    const InstanceId a = host->createInstance();
    const InstanceId b = host->createInstance();
    const std::string id_a = storedId(*host, a);
    const std::string id_b = storedId(*host, b);
    EXPECT_NE(id_a, id_b);

    PixelWorld input(5, 5, 8);
    ASSERT_TRUE(host->render(a, input).ok());
    ASSERT_TRUE(host->render(b, input).ok());
    ASSERT_TRUE(host->userChangedParam(b, kType).ok());
    const std::vector<ReceivedRequest> calls = server->requests("call_plugin");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].message.get("args").getString("instance_id", ""), id_a);
    EXPECT_EQ(calls[1].message.get("args").getString("instance_id", ""), id_b);
    EXPECT_EQ(calls[2].message.get("args").getString("instance_id", ""), id_b);
}

TEST_F(PluginTest, ReSetupGivesTheInstanceANewIdThatRendersThenCarry) {
    startServer().setJobScript(invertingJob());
    start();
    const InstanceId inst = host->createInstance();
    const std::string first = storedId(*host, inst);
    host->sequenceResetup(inst).expectOk();
    const std::string second = storedId(*host, inst);
    EXPECT_NE(first, second);

    ASSERT_TRUE(host->render(inst, PixelWorld(3, 3, 8)).ok());
    const std::vector<ReceivedRequest> calls = renderCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message.get("args").getString("instance_id", ""), second);
}

TEST_F(PluginTest, WithoutSequenceDataARenderSendsAnEmptyIdAndTheParameterReportIsSkipped) {
    startServer().setJobScript(invertingJob());
    FaultShimConfig config;
    config.skip_sequence_setup = true;
    startShim(config);
    const InstanceId inst = host->createInstance();
    ASSERT_TRUE(host->sequenceData(inst).empty());

    PixelWorld input(6, 2, 8);
    input.fillGradient();
    const RenderResult r = host->render(inst, input);
    ASSERT_TRUE(r.ok()) << r.render.describe();
    EXPECT_EQ(differingPixels(r.output, worldFromImage(inverted(imageFromWorld(input)))), 0);
    const std::vector<ReceivedRequest> calls = renderCalls();
    ASSERT_EQ(calls.size(), 1u);
    const Dict& id = calls[0].message.get("args").get("instance_id");
    ASSERT_EQ(id.type, Dict::String);
    EXPECT_EQ(std::get<std::string>(id.value), "");

    const CommandResult report = host->userChangedParam(inst, kContrast);
    EXPECT_TRUE(report.ok()) << report.describe();
    EXPECT_EQ(server->requests("call_plugin").size(), 1u) << "a parameter report was sent";
}

}  // namespace
}  // namespace TEV::PluginTest
