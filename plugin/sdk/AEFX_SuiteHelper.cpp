#include "AEFX_SuiteHelper.h"

#include <cstring>

namespace {

const char kAcquireFailed[] = "Not able to acquire AEFX Suite.";
const char kReleaseFailed[] = "Not able to release AEFX Suite.";

// Shows `message` in the host's error display. "%.255s" keeps it inside
// return_msg (256 bytes) whatever its length.
void reportToHost(PF_InData* in_data, PF_OutData* out_data, const char* message) {
    if (!out_data) {
        return;
    }
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    if (in_data && in_data->utils && in_data->utils->ansi.sprintf) {
        in_data->utils->ansi.sprintf(out_data->return_msg, "%.255s", message);
    }
}

// The four suites of DRAWBOT_Suites that are acquired, in member order.
struct DrawbotSuiteId {
    const char* name;
    int32_t version;
};
constexpr int kDrawbotSuiteCount = 4;
const DrawbotSuiteId kDrawbotSuites[kDrawbotSuiteCount] = {
    {kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_VersionCurrent},
    {kDRAWBOT_SupplierSuite, kDRAWBOT_SupplierSuite_VersionCurrent},
    {kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_VersionCurrent},
    {kDRAWBOT_PathSuite, kDRAWBOT_PathSuite_VersionCurrent},
};

}  // namespace

extern "C" PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                                    int32_t version, const char* error_stringPC0, void** suite) {
    *suite = nullptr;
    if (in_data && in_data->pica_basicP) {
        const void* acquired = nullptr;
        // The result code is not consulted: a table in hand is the success test.
        (void)in_data->pica_basicP->AcquireSuite(name, version, &acquired);
        *suite = const_cast<void*>(acquired);
    }
    if (*suite) {
        return PF_Err_NONE;
    }
    reportToHost(in_data, out_data, error_stringPC0 ? error_stringPC0 : kAcquireFailed);
    return PF_Err_BAD_CALLBACK_PARAM;
}

extern "C" PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                                    int32_t version, const char* error_stringPC0) {
    if (in_data && in_data->pica_basicP) {
        (void)in_data->pica_basicP->ReleaseSuite(name, version);
        return PF_Err_NONE;
    }
    reportToHost(in_data, out_data, error_stringPC0 ? error_stringPC0 : kReleaseFailed);
    return PF_Err_BAD_CALLBACK_PARAM;
}

extern "C" PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data,
                                            DRAWBOT_Suites* suitesP) {
    if (!suitesP) {
        reportToHost(in_data, out_data, "NULL suite pointer passed to AEFX_AcquireDrawbotSuites");
        return PF_Err_UNRECOGNIZED_PARAM_TYPE;
    }
    void* acquired[kDrawbotSuiteCount] = {};
    for (int i = 0; i < kDrawbotSuiteCount; ++i) {
        PF_Err err = AEFX_AcquireSuite(in_data, out_data, kDrawbotSuites[i].name,
                                       kDrawbotSuites[i].version, nullptr, &acquired[i]);
        if (err != PF_Err_NONE) {
            // Give back the ones already held so a failed call leaves nothing acquired.
            for (int j = 0; j < i; ++j) {
                (void)in_data->pica_basicP->ReleaseSuite(kDrawbotSuites[j].name,
                                                         kDrawbotSuites[j].version);
            }
            return err;
        }
    }
    suitesP->drawbot_suiteP = static_cast<DRAWBOT_DrawbotSuiteCurrent*>(acquired[0]);
    suitesP->supplier_suiteP = static_cast<DRAWBOT_SupplierSuiteCurrent*>(acquired[1]);
    suitesP->surface_suiteP = static_cast<DRAWBOT_SurfaceSuiteCurrent*>(acquired[2]);
    suitesP->path_suiteP = static_cast<DRAWBOT_PathSuiteCurrent*>(acquired[3]);
    return PF_Err_NONE;
}

extern "C" PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data) {
    for (const DrawbotSuiteId& id : kDrawbotSuites) {
        (void)AEFX_ReleaseSuite(in_data, out_data, id.name, id.version, nullptr);
    }
    return PF_Err_NONE;
}

AEFX_DrawbotSuitesScoper::AEFX_DrawbotSuitesScoper(PF_InData* in_data, PF_OutData* out_data)
    : in_data_(in_data), out_data_(out_data) {
    std::memset(&suites_, 0, sizeof(suites_));
    PF_Err err = AEFX_AcquireDrawbotSuites(in_data_, out_data_, &suites_);
    if (err != PF_Err_NONE) {
        throw err;
    }
}

AEFX_DrawbotSuitesScoper::~AEFX_DrawbotSuitesScoper() {
    (void)AEFX_ReleaseDrawbotSuites(in_data_, out_data_);
}
