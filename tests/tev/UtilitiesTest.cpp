// Identifiers, normalisation and the version check.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>

#include "TEV.h"
#include "ThrownError.h"

TEST(Uuid, HasTheVersionFourLayoutAndDiffers) {
    const std::regex form("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
    std::set<std::string> seen;
    std::set<char> variants;
    for (int i = 0; i < 200; ++i) {
        std::string id = TEV::generate_uuid();
        ASSERT_EQ(id.size(), 36u);
        ASSERT_TRUE(std::regex_match(id, form)) << id;
        seen.insert(id);
        variants.insert(id[19]);
    }
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_GT(variants.size(), 1u);
}

TEST(Uuid, ConcurrentCallsStayDistinct) {
    std::vector<std::string> ids(8 * 50);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) ids[t * 50 + i] = TEV::generate_uuid();
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size());
}

TEST(NormalizeString, DropsWhiteSpaceAndLowersTheRest) {
    EXPECT_EQ(TEV::normalize_string(" Tensor (GPU)\tX\n"), "tensor(gpu)x");
    EXPECT_EQ(TEV::normalize_string("\v\f\r"), "");
    EXPECT_EQ(TEV::normalize_string(""), "");
    EXPECT_EQ(TEV::normalize_string("\xc3\x89t\xc3\xa9"), "\xc3\x89t\xc3\xa9");  // bytes above 127 pass unchanged
}

TEST(VersionCheck, OnlyTheExactTextMatches) {
    EXPECT_STREQ(TEV::getImplementationVersion(), "2");
    EXPECT_TRUE(TEV::checkVersionCompatibility("2"));
    for (const char* bad : {"", "20", " 2", "2 ", "1"}) {
        SCOPED_TRACE(std::string("version '") + bad + "'");
        const TEV::TEVErr e = TEV::Test::thrownBy([&] { TEV::checkVersionCompatibility(bad); });
        EXPECT_EQ(e.type, TEV::VersionMismatch);
        EXPECT_EQ(e.detail, std::string("TEV header version (") + bad + ") does not match library version (2)");
        EXPECT_EQ(e.context, "");
    }
}
