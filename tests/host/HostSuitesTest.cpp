// Suites taken straight from the host's basic suite: lookup and withholding,
// the misuse the books record, members the host does not implement, and the
// persistent data blob.
#include <algorithm>

#include "HostTestSupport.h"

namespace TEV::Host::Testing {
namespace {

template <typename Suite>
const Suite* acquire(HeadlessHost& host, const char* name, int version) {
    const void* suite = nullptr;
    EXPECT_EQ(host.basicSuite()->AcquireSuite(name, version, &suite), kSPNoError) << name << " " << version;
    return static_cast<const Suite*>(suite);
}

bool recorded(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

TEST(HostSuites, OffersExactlyTheListedVersions) {
    HeadlessHost host;
    const void* suite = &host;
    EXPECT_NE(host.basicSuite()->AcquireSuite(kAEGPStreamSuite, 8, &suite), kSPNoError);
    EXPECT_EQ(suite, nullptr);
    EXPECT_NE(acquire<AEGP_StreamSuite2>(host, kAEGPStreamSuite, 7), nullptr);
    EXPECT_NE(acquire<AEGP_StreamSuite5>(host, kAEGPStreamSuite, 10), nullptr);
    EXPECT_NE(acquire<PF_Iterate16Suite1>(host, "PF iterate16 Suite", 1), nullptr);
    EXPECT_NE(host.basicSuite()->AcquireSuite("PF Iterate16 Suite", 1, &suite), kSPNoError);  // the name is exact
    Books b = host.books();
    EXPECT_EQ(b.suites_refused.size(), 2u);
    EXPECT_EQ(b.suitesOutstanding(), 3);
    EXPECT_EQ(host.unbalanced().size(), 3u);
}

TEST(HostSuites, MisuseOfSuitesAndHandlesIsRecorded) {
    HeadlessHost host;
    EXPECT_EQ(host.basicSuite()->ReleaseSuite(kPFHandleSuite, 2), kSPBadParameterError);
    const auto* handles = acquire<PF_HandleSuite1>(host, kPFHandleSuite, 2);
    PF_Handle h = handles->host_new_handle(10);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(handles->host_get_handle_size(h), 10u);
    ASSERT_EQ(handles->host_resize_handle(100, &h), PF_Err_NONE);
    EXPECT_EQ(static_cast<char*>(handles->host_lock_handle(h))[99], 0);  // grown part is zeroed
    handles->host_unlock_handle(h);
    handles->host_unlock_handle(h);  // one unlock too many
    handles->host_dispose_handle(h);
    handles->host_dispose_handle(h);  // twice
    EXPECT_EQ(handles->host_new_handle(A_u_longlong(1) << 40), nullptr);  // refused, not attempted
    EXPECT_EQ(host.basicSuite()->ReleaseSuite(kPFHandleSuite, 2), kSPNoError);

    std::vector<std::string> report = host.unbalanced();
    EXPECT_TRUE(recorded(report, "misuse: ReleaseSuite of \"PF Handle Suite\" 2 that is not acquired"));
    EXPECT_TRUE(recorded(report, "misuse: host_unlock_handle of a handle that is not locked"));
    EXPECT_TRUE(recorded(report, "misuse: host_dispose_handle of a handle that is not live"));
    Books b = host.books();
    EXPECT_EQ(b.handles_allocated, 1);
    EXPECT_EQ(b.handles_disposed, 1);
    EXPECT_EQ(b.handles_live, 0);
    EXPECT_EQ(b.handles_resized, 1);
}

TEST(HostSuites, MembersTheHostDoesNotImplementAnswerInvalidCallback) {
    HeadlessHost host;
    const auto* utility = acquire<AEGP_UtilitySuite5>(host, kAEGPUtilitySuite, 11);
    EXPECT_EQ(utility->AEGP_GetMainHWND(), PF_Err_INVALID_CALLBACK);
    A_short major = 0, minor = 0;
    EXPECT_EQ(utility->AEGP_GetDriverImplementationVersion(&major, &minor), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(host.books().unsupported_calls,
              (std::vector<std::string>{"AEGP Utility Suite", "AEGP Utility Suite"}));
    // Callbacks that need a running command refuse without one.
    const auto* ui = acquire<PF_EffectUISuite1>(host, kPFEffectUISuite, 1);
    EXPECT_EQ(ui->PF_SetOptionsButtonName(nullptr, "Options"), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(recorded(host.unbalanced(), "PF_SetOptionsButtonName with an effect_ref of no running command"));
}

TEST(HostSuites, PersistentDataStoresDefaultsAndRefusesSmallBuffers) {
    HeadlessHost host;
    host.setPreference("Prefs", "colour", "a rather long value");
    const auto* data = acquire<AEGP_PersistentDataSuite3>(host, kAEGPPersistentDataSuite, 3);
    AEGP_PersistentBlobH blob = nullptr;
    ASSERT_EQ(data->AEGP_GetApplicationBlob(&blob), A_Err_NONE);

    char buffer[8] = "xxxxxxx";
    A_u_long size = 0;
    EXPECT_EQ(data->AEGP_GetString(blob, "Prefs", "colour", "none", sizeof(buffer), buffer, &size), A_Err_NONE);
    EXPECT_STREQ(buffer, "");  // too small: empty, with the size needed
    EXPECT_EQ(size, 20u);

    EXPECT_EQ(data->AEGP_GetString(blob, "Prefs", "shape", "disc", sizeof(buffer), buffer, nullptr), A_Err_NONE);
    EXPECT_STREQ(buffer, "disc");
    EXPECT_EQ(host.preference("Prefs", "shape"), "disc");  // a missing key keeps its default

    A_Boolean exists = 0;
    data->AEGP_DoesKeyExist(blob, "Prefs", "size", &exists);
    EXPECT_FALSE(exists);
    EXPECT_EQ(data->AEGP_SetString(blob, "Prefs", "size", "3"), A_Err_NONE);
    data->AEGP_DoesKeyExist(blob, "Prefs", "size", &exists);
    EXPECT_TRUE(exists);
    A_long keys = 0;
    data->AEGP_GetNumKeys(blob, "Prefs", &keys);
    EXPECT_EQ(keys, 3);
}

}  // namespace
}  // namespace TEV::Host::Testing
