// The SDK helper layer against a scripted basic suite: lazy acquisition and
// release, the three failure reports (516 thrown, 516 returned with a message,
// 13 thrown with a message), the Drawbot set and the rectangle helpers.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "AEFX_SuiteHandlerTemplate.h"
#include "AEFX_SuiteHelper.h"
#include "AEGP_SuiteHandler.h"
#include "Smart_Utils.h"
#include "ThrownError.h"

namespace {

using Key = std::pair<std::string, int>;
using TEV::Test::thrownBy;

// A basic suite that offers the suites in `offered` and counts acquisitions.
// Its functions carry no context, so the fake under test is a global.
struct FakeBasicSuite {
    std::map<Key, const void*> offered;
    std::map<Key, int> acquired, released;
    bool null_without_error = false;  // a missing suite answers kSPNoError with a null table
    SPBasicSuite basic{};

    static FakeBasicSuite* current;

    FakeBasicSuite() {
        current = this;
        basic.AcquireSuite = [](const char* name, int32 version, const void** suite) -> SPErr {
            auto it = current->offered.find({name, version});
            *suite = it == current->offered.end() ? nullptr : it->second;
            if (*suite || current->null_without_error) {
                ++current->acquired[{name, version}];
                return kSPNoError;
            }
            return kSPUnimplementedError;
        };
        basic.ReleaseSuite = [](const char* name, int32 version) -> SPErr {
            ++current->released[{name, version}];
            return kSPNoError;
        };
    }
    ~FakeBasicSuite() { current = nullptr; }
    void offer(const char* name, int version) {
        static const char tables[64] = {};
        offered[{name, version}] = &tables[offered.size()];
    }
    int outstanding() const {
        int n = 0;
        for (const auto& [key, count] : acquired) {
            n += count;
        }
        for (const auto& [key, count] : released) {
            n -= count;
        }
        return n;
    }
};
FakeBasicSuite* FakeBasicSuite::current = nullptr;

// PF_InData/PF_OutData with the host's sprintf, as a command would get them.
struct Call {
    explicit Call(SPBasicSuite* basic) {
        utils.ansi.sprintf = &std::sprintf;
        in_data.utils = &utils;
        in_data.pica_basicP = basic;
    }
    PF_UtilCallbacks utils{};
    PF_InData in_data{};
    PF_OutData out_data{};
    std::string message() const { return out_data.return_msg; }
    bool displayFlag() const { return (out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0; }
};

TEST(SuiteHandler, AcquiresOnFirstUseAndReleasesEverySuiteOnDestruction) {
    FakeBasicSuite fake;
    fake.offer(kPFHandleSuite, kPFHandleSuiteVersion1);
    fake.offer(kPFIterate8Suite, kPFIterate8SuiteVersion1);
    fake.offer(kAEGPStreamSuite, kAEGPStreamSuiteVersion2);
    fake.offer(kAEGPStreamSuite, kAEGPStreamSuiteVersion5);
    {
        AEGP_SuiteHandler suites(&fake.basic);
        EXPECT_TRUE(fake.acquired.empty());
        PF_HandleSuite1* first = suites.HandleSuite1();
        EXPECT_EQ(first, suites.HandleSuite1());
        suites.Iterate8Suite1();
        suites.StreamSuite2();
        suites.StreamSuite5();
        EXPECT_EQ(fake.acquired[Key(kPFHandleSuite, 2)], 1);
        EXPECT_EQ(fake.acquired[Key(kAEGPStreamSuite, 7)], 1);
        EXPECT_EQ(fake.acquired[Key(kAEGPStreamSuite, 10)], 1);
        EXPECT_TRUE(fake.released.empty());
    }
    EXPECT_EQ(fake.released[Key(kPFHandleSuite, 2)], 1);
    EXPECT_EQ(fake.released[Key(kPFIterate8Suite, 1)], 1);
    EXPECT_EQ(fake.released[Key(kAEGPStreamSuite, 7)], 1);
    EXPECT_EQ(fake.released[Key(kAEGPStreamSuite, 10)], 1);
    EXPECT_EQ(fake.outstanding(), 0);
}

TEST(SuiteHandler, MissingSuiteThrows516WhetherRefusedOrNull) {
    FakeBasicSuite fake;
    {
        AEGP_SuiteHandler suites(&fake.basic);
        EXPECT_EQ(thrownBy<PF_Err>([&] { suites.UtilitySuite5(); }), PF_Err_BAD_CALLBACK_PARAM);
    }
    fake.null_without_error = true;
    {
        AEGP_SuiteHandler suites(&fake.basic);
        EXPECT_EQ(thrownBy<PF_Err>([&] { suites.IterateFloatSuite1(); }), PF_Err_BAD_CALLBACK_PARAM);
    }
    // The null table that was counted as acquired was given back.
    EXPECT_EQ(fake.outstanding(), 0);
}

TEST(SuiteHandler, NullBasicSuiteThrows516AtConstruction) {
    EXPECT_EQ(thrownBy<PF_Err>([] { AEGP_SuiteHandler suites(nullptr); }), PF_Err_BAD_CALLBACK_PARAM);
}

TEST(AefxAcquireSuite, ReturnsTheSuiteOrReports516WithMessageAndDisplayFlag) {
    FakeBasicSuite fake;
    fake.offer(kPFWorldSuite, kPFWorldSuiteVersion2);
    Call ok(&fake.basic);
    void* suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&ok.in_data, &ok.out_data, kPFWorldSuite, 2, nullptr, &suite), PF_Err_NONE);
    EXPECT_NE(suite, nullptr);
    EXPECT_FALSE(ok.displayFlag());
    EXPECT_EQ(AEFX_ReleaseSuite(&ok.in_data, &ok.out_data, kPFWorldSuite, 2, nullptr), PF_Err_NONE);
    EXPECT_EQ(fake.outstanding(), 0);

    Call missing(&fake.basic);
    suite = &fake;
    EXPECT_EQ(AEFX_AcquireSuite(&missing.in_data, &missing.out_data, "No Such Suite", 1, nullptr, &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suite, nullptr);
    EXPECT_TRUE(missing.displayFlag());
    EXPECT_EQ(missing.message(), "Not able to acquire AEFX Suite.");

    Call custom(&fake.basic);
    EXPECT_EQ(AEFX_AcquireSuite(&custom.in_data, &custom.out_data, "No Such Suite", 1, "Couldn't load suite.",
                                &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(custom.message(), "Couldn't load suite.");
}

TEST(AefxAcquireSuite, WithoutBasicSuiteBothDirectionsReport516) {
    Call call(nullptr);
    void* suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&call.in_data, &call.out_data, kPFWorldSuite, 2, nullptr, &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(AEFX_ReleaseSuite(&call.in_data, &call.out_data, kPFWorldSuite, 2, nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(call.message(), "Not able to release AEFX Suite.");
    EXPECT_TRUE(call.displayFlag());
}

TEST(AefxAcquireSuite, OverlongMessageStaysInsideReturnMsg) {
    FakeBasicSuite fake;
    Call call(&fake.basic);
    std::string huge(1000, 'x');
    void* suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&call.in_data, &call.out_data, "No Such Suite", 1, huge.c_str(), &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(call.message(), std::string(255, 'x'));
    EXPECT_EQ(call.out_data.start_sampL, 0);  // the field after return_msg is untouched
}

TEST(SuiteScoper, MissingSuiteThrows13AfterWritingTheMessage) {
    FakeBasicSuite fake;
    Call call(&fake.basic);
    EXPECT_EQ(thrownBy<PF_Err>([&] {
                  AEFX_SuiteScoper<PF_EffectSequenceDataSuite1> seq(&call.in_data, kPFEffectSequenceDataSuite, 1,
                                                                     &call.out_data);
              }),
              A_Err_MISSING_SUITE);
    EXPECT_TRUE(call.displayFlag());
    EXPECT_EQ(call.message(), "Not able to acquire AEFX Suite.");

    // Without out_data there is nothing to write, but it still throws.
    Call silent(&fake.basic);
    EXPECT_EQ(thrownBy<PF_Err>([&] {
                  AEFX_SuiteScoper<PF_EffectSequenceDataSuite1> seq(&silent.in_data, kPFEffectSequenceDataSuite, 1);
              }),
              A_Err_MISSING_SUITE);
    EXPECT_EQ(silent.message(), "");
}

TEST(SuiteScoper, NullTableWithoutErrorCountsAsMissingAndIsGivenBack) {
    FakeBasicSuite fake;
    fake.null_without_error = true;
    Call call(&fake.basic);
    EXPECT_EQ(thrownBy<PF_Err>([&] {
                  AEFX_SuiteScoper<PF_EffectSequenceDataSuite1> seq(&call.in_data, kPFEffectSequenceDataSuite, 1,
                                                                     &call.out_data);
              }),
              A_Err_MISSING_SUITE);
    EXPECT_EQ(fake.outstanding(), 0);
}

TEST(SuiteScoper, AllowNoSuiteGivesNullAndReleasesWhatItHeld) {
    FakeBasicSuite fake;
    Call call(&fake.basic);
    {
        AEFX_SuiteScoper<PF_EffectSequenceDataSuite1, true> seq(&call.in_data, kPFEffectSequenceDataSuite, 1,
                                                                 &call.out_data);
        EXPECT_EQ(seq.get(), nullptr);
    }
    EXPECT_FALSE(call.displayFlag());
    fake.offer(kPFEffectSequenceDataSuite, 1);
    {
        AEFX_SuiteScoper<PF_EffectSequenceDataSuite1> seq(&call.in_data, kPFEffectSequenceDataSuite, 1);
        EXPECT_NE(seq.get(), nullptr);
        EXPECT_EQ(fake.outstanding(), 1);
    }
    EXPECT_EQ(fake.outstanding(), 0);
}

TEST(DrawbotSuites, AcquiresAllFourAndReleasesThem) {
    FakeBasicSuite fake;
    fake.offer(kDRAWBOT_DrawSuite, 1);
    fake.offer(kDRAWBOT_SupplierSuite, 1);
    fake.offer(kDRAWBOT_SurfaceSuite, 2);
    fake.offer(kDRAWBOT_PathSuite, 1);
    Call call(&fake.basic);
    DRAWBOT_Suites suites{};
    ASSERT_EQ(AEFX_AcquireDrawbotSuites(&call.in_data, &call.out_data, &suites), PF_Err_NONE);
    EXPECT_NE(suites.drawbot_suiteP, nullptr);
    EXPECT_NE(suites.supplier_suiteP, nullptr);
    EXPECT_NE(suites.surface_suiteP, nullptr);
    EXPECT_NE(suites.path_suiteP, nullptr);
    EXPECT_EQ(suites.pen_suiteP, nullptr);
    EXPECT_EQ(fake.outstanding(), 4);
    EXPECT_EQ(AEFX_ReleaseDrawbotSuites(&call.in_data, &call.out_data), PF_Err_NONE);
    EXPECT_EQ(fake.outstanding(), 0);
}

TEST(DrawbotSuites, MissingSurfaceSuiteGives516AndLeavesNothingAcquired) {
    FakeBasicSuite fake;
    fake.offer(kDRAWBOT_DrawSuite, 1);
    fake.offer(kDRAWBOT_SupplierSuite, 1);
    fake.offer(kDRAWBOT_SurfaceSuite, 1);  // the older version only
    fake.offer(kDRAWBOT_PathSuite, 1);
    Call call(&fake.basic);
    DRAWBOT_Suites suites{};
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(&call.in_data, &call.out_data, &suites), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(call.message(), "Not able to acquire AEFX Suite.");
    EXPECT_EQ(fake.outstanding(), 0);
    EXPECT_EQ(fake.acquired.count(Key(kDRAWBOT_PathSuite, 1)), 0u);  // stopped at the surface suite
}

TEST(DrawbotSuites, NullRecordGives514) {
    FakeBasicSuite fake;
    Call call(&fake.basic);
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(&call.in_data, &call.out_data, nullptr), PF_Err_UNRECOGNIZED_PARAM_TYPE);
    EXPECT_EQ(call.message(), "NULL suite pointer passed to AEFX_AcquireDrawbotSuites");
}

TEST(Rectangles, UnionLRectWithEmptyAndNonEmptyRectangles) {
    PF_LRect empty{5, 5, 5, 9};  // zero width
    PF_LRect a{10, 20, 30, 40};
    PF_LRect b{0, 25, 15, 60};

    PF_LRect dst = empty;
    UnionLRect(&a, &dst);
    EXPECT_EQ(std::make_tuple(dst.left, dst.top, dst.right, dst.bottom), std::make_tuple(10, 20, 30, 40));

    UnionLRect(&b, &dst);
    EXPECT_EQ(std::make_tuple(dst.left, dst.top, dst.right, dst.bottom), std::make_tuple(0, 20, 30, 60));

    UnionLRect(&empty, &dst);  // an empty source changes nothing
    EXPECT_EQ(std::make_tuple(dst.left, dst.top, dst.right, dst.bottom), std::make_tuple(0, 20, 30, 60));

    PF_LRect inverted{50, 50, 40, 60};  // left > right is empty too: copied over
    PF_LRect target = inverted;
    UnionLRect(&a, &target);
    EXPECT_EQ(std::make_tuple(target.left, target.top, target.right, target.bottom), std::make_tuple(10, 20, 30, 40));
}

TEST(Rectangles, EmptinessAndBorderPixels) {
    PF_LRect r{2, 3, 6, 8};
    EXPECT_FALSE(IsEmptyRect(&r));
    PF_LRect flat{2, 3, 6, 3};
    EXPECT_TRUE(IsEmptyRect(&flat));

    EXPECT_TRUE(IsEdgePixel(&r, 2, 5));   // left column
    EXPECT_TRUE(IsEdgePixel(&r, 6, 8));   // right and bottom are inclusive
    EXPECT_TRUE(IsEdgePixel(&r, 4, 3));   // top row
    EXPECT_FALSE(IsEdgePixel(&r, 4, 5));  // inside
    EXPECT_FALSE(IsEdgePixel(&r, 2, 9));  // on the left line, below the rectangle
    EXPECT_FALSE(IsEdgePixel(&r, 7, 3));  // on the top line, right of it
}

}  // namespace
