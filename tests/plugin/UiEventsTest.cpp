// The two user-interface commands: the update of the parameter UI and a
// changed parameter, with and without the AEGP suites.
#include <ctime>

#include "PluginTestSupport.h"

namespace TEV::PluginTest {
namespace {

TEST_F(PluginTest, UpdatingTheUiHidesTheTimestampAndTheReconnectRowWhileNoLaunchWasAttempted) {
    start();
    const InstanceId inst = host->createInstance();
    const CommandResult r = host->updateParamsUI(inst);
    ASSERT_TRUE(r.ok()) << r.describe();
    EXPECT_TRUE(r.out_flags & PF_OutFlag_REFRESH_UI);
    EXPECT_TRUE(host->paramHidden(inst, kReconnect));
    EXPECT_TRUE(host->paramHidden(inst, kTimestamp));
    EXPECT_FALSE(host->paramHidden(inst, kBrightness));
    const Books books = host->books();
    EXPECT_EQ(books.effect_refs_made, 1);
    EXPECT_GE(books.stream_refs_made, 2);
}

TEST_F(PluginTest, PressingReconnectStampsTheTimeAndTalksToNoServer) {
    startServer();
    start();
    const InstanceId inst = host->createInstance();
    const double before = static_cast<double>(std::time(nullptr));
    const CommandResult r = host->userChangedParam(inst, kReconnect);
    const double after = static_cast<double>(std::time(nullptr));
    ASSERT_TRUE(r.ok()) << r.describe();
    const double stamp = host->paramValue(inst, kTimestamp);
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(stamp, static_cast<double>(static_cast<long long>(stamp))) << "whole seconds";
    EXPECT_EQ(server->requestCount(), 0u);
}

TEST_F(PluginTest, ChangingAnotherParameterReportsItToTheServerWithTheInstanceId) {
    startServer();
    start();
    const InstanceId inst = host->createInstance();
    ASSERT_TRUE(host->userChangedParam(inst, kBrightness).ok());
    const std::vector<ReceivedRequest> calls = server->requests("call_plugin");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message.getString("function_name", ""), "user_changed_param");
    const Dict& args = calls[0].message.get("args");
    EXPECT_EQ(args.getString("instance_id", ""), std::string(host->sequenceData(inst).data()));
    EXPECT_EQ(args.get("param_id").type, Dict::Int);
    EXPECT_EQ(args.getInt("param_id", 0), kBrightness);
    EXPECT_EQ(host->paramValue(inst, kTimestamp), 0.0) << "only Reconnect stamps the time";
}

TEST_F(PluginTest, InPremiereTheRowsAreHiddenThroughTheParameterUiAndReconnectStillStamps) {
    start(HostOptions::premiereWithoutAegp());
    const InstanceId inst = host->createInstance();
    const CommandResult update = host->updateParamsUI(inst);
    ASSERT_TRUE(update.ok()) << update.describe();
    const std::vector<ParamInfo> params = host->params(inst);
    EXPECT_TRUE(params[kReconnect].ui_flags & PF_PUI_INVISIBLE);
    EXPECT_TRUE(params[kTimestamp].ui_flags & PF_PUI_INVISIBLE);
    EXPECT_FALSE(params[kBrightness].ui_flags & PF_PUI_INVISIBLE);
    EXPECT_EQ(host->books().param_ui_updates, 2);

    const double before = static_cast<double>(std::time(nullptr));
    const CommandResult press = host->userChangedParam(inst, kReconnect);
    ASSERT_TRUE(press.ok()) << press.describe();
    EXPECT_GE(host->paramValue(inst, kTimestamp), before);
}

}  // namespace
}  // namespace TEV::PluginTest
