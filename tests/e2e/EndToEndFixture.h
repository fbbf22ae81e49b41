// Every end-to-end case starts with no server running, so that the plug-in's
// launcher starts it, and stops whatever server runs at its end.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "TestInstall.h"

namespace TEV::E2e {

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { installServer(); }

    void SetUp() override {
        if (!TEV::Test::makerFolderIsScratch()) {
            GTEST_SKIP() << "the maker folder is not inside the build tree; these tests stop servers and hide the "
                            "server runtime";
        }
        ASSERT_TRUE(stopServer(SIGTERM)) << "a server from before did not stop";
        ASSERT_FALSE(portAnswers()) << "something that is not the reference server holds the build's port";
        launcher_log_start_ = launcherLogText().size();
    }

    void TearDown() override { EXPECT_TRUE(stopServer(SIGTERM)) << "the server did not stop"; }

    static std::string launcherLogText() {
        std::ifstream in(TEV::Test::launcherLog(), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // What the server wrote to launcher.log during this case.
    std::string launcherLogOfThisCase() const {
        const std::string all = launcherLogText();
        return all.size() > launcher_log_start_ ? all.substr(launcher_log_start_) : std::string();
    }

private:
    std::size_t launcher_log_start_ = 0;
};

// The same end-to-end cases in each host profile: After Effects (smart
// rendering) and Premiere Pro (frame setup, render, frame setdown).
class EndToEndInProfile : public EndToEnd, public ::testing::WithParamInterface<Host::HostProfile> {
protected:
    Host::HostOptions profileOptions() const { return Host::HostOptions::forProfile(GetParam()); }
    bool smart() const { return GetParam() == Host::HostProfile::AfterEffects; }
    // The depths the plug-in processes in this profile: 32 only with smart rendering.
    std::vector<int> processedDepths() const { return smart() ? std::vector<int>{8, 16, 32} : std::vector<int>{8, 16}; }
};

inline std::string profileParamName(const ::testing::TestParamInfo<Host::HostProfile>& info) {
    return Host::profileName(info.param);
}

}  // namespace TEV::E2e
