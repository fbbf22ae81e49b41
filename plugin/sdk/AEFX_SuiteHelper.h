// Acquiring and releasing single suites with the failure reported to the
// host's error display, and the Drawbot suite set used by custom UI.
#pragma once

#include <stdint.h>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "SP/SPBasic.h"
#include "adobesdk/DrawbotSuite.h"

#ifdef __cplusplus
extern "C" {
#endif

// Acquires name/version into *suite. Without a basic suite or with a null
// table it ORs PF_OutFlag_DISPLAY_ERROR_MESSAGE into out_data->out_flags,
// writes error_stringPC0 (default "Not able to acquire AEFX Suite.") into
// out_data->return_msg with the host's sprintf, and returns 516.
PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                         int32_t version, const char* error_stringPC0, void** suite);

// Releases name/version: 0. Without a basic suite: display flag, message
// (default "Not able to release AEFX Suite.") and 516.
PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                         int32_t version, const char* error_stringPC0);

// Acquires the Draw, Supplier, Surface and Path suites into the first four
// members, stopping at the first one missing (516 with the default message).
// A null suitesP gives "NULL suite pointer passed to AEFX_AcquireDrawbotSuites"
// and 514.
PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data,
                                 DRAWBOT_Suites* suitesP);

// Releases the four Drawbot suites, ignoring each result; returns 0.
PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data);

#ifdef __cplusplus
}

// One suite for the lifetime of a scope; the acquisition error (516) is
// thrown as a PF_Err.
template <typename SuiteType>
class AEFX_SuiteHelperT {
public:
    AEFX_SuiteHelperT(PF_InData* in_data, PF_OutData* out_data, const char* suite_name,
                      int32_t suite_version)
        : in_data_(in_data), out_data_(out_data), name_(suite_name), version_(suite_version) {
        void* suite = nullptr;
        PF_Err err = AEFX_AcquireSuite(in_data_, out_data_, name_, version_, nullptr, &suite);
        if (err != PF_Err_NONE) {
            throw err;
        }
        suite_ = static_cast<SuiteType*>(suite);
    }
    ~AEFX_SuiteHelperT() { (void)AEFX_ReleaseSuite(in_data_, out_data_, name_, version_, nullptr); }

    AEFX_SuiteHelperT(const AEFX_SuiteHelperT&) = delete;
    AEFX_SuiteHelperT& operator=(const AEFX_SuiteHelperT&) = delete;

    SuiteType* operator->() const { return suite_; }
    SuiteType* get() const { return suite_; }

private:
    PF_InData* in_data_;
    PF_OutData* out_data_;
    const char* name_;
    int32_t version_;
    SuiteType* suite_ = nullptr;
};

// The four Drawbot suites for the lifetime of a scope; throws the acquisition error.
class AEFX_DrawbotSuitesScoper {
public:
    AEFX_DrawbotSuitesScoper(PF_InData* in_data, PF_OutData* out_data);
    ~AEFX_DrawbotSuitesScoper();

    AEFX_DrawbotSuitesScoper(const AEFX_DrawbotSuitesScoper&) = delete;
    AEFX_DrawbotSuitesScoper& operator=(const AEFX_DrawbotSuitesScoper&) = delete;

    DRAWBOT_Suites* Get() { return &suites_; }

private:
    PF_InData* in_data_;
    PF_OutData* out_data_;
    DRAWBOT_Suites suites_;
};

#endif // __cplusplus
