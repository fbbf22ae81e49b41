// AEFX_SuiteScoper: acquires one suite for the lifetime of a scope and
// releases it on the way out.
#pragma once

#include "A.h"
#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "SP/SPBasic.h"

#ifdef __cplusplus

#include <stdint.h>

// On construction acquires suite_name/suite_versionL from in_data's basic
// suite. When the suite cannot be had (an acquisition error, a null suite, or
// no basic suite at all) and ALLOW_NO_SUITE is false, it ORs
// PF_OutFlag_DISPLAY_ERROR_MESSAGE into out_dataP0->out_flags, prints
// err_stringZ0 (default "Not able to acquire AEFX Suite.") into its
// return_msg with the host's sprintf (both only when out_dataP0 is given), and
// throws A_Err_MISSING_SUITE (13) as an A_long. With ALLOW_NO_SUITE the
// pointer stays null instead. Releases the suite on destruction if it was had.
template <typename SUITETYPE, bool ALLOW_NO_SUITE = false>
class AEFX_SuiteScoper {
public:
    AEFX_SuiteScoper(const PF_InData* in_data, const char* suite_name, int32_t suite_versionL,
                     PF_OutData* out_dataP0 = 0, const char* err_stringZ0 = 0)
        : i_suiteP(0), i_basic_suiteP(in_data->pica_basicP), i_suite_name(suite_name),
          i_suite_versionL(suite_versionL) {
        const void* suiteP = 0;
        SPErr err = i_basic_suiteP
                        ? i_basic_suiteP->AcquireSuite(i_suite_name, i_suite_versionL, &suiteP)
                        : kSPBadParameterError;
        if (err == kSPNoError && suiteP) {
            i_suiteP = reinterpret_cast<const SUITETYPE*>(suiteP);
            return;
        }
        if (err == kSPNoError && i_basic_suiteP) {
            // Acquired with a null table: give the acquisition back.
            i_basic_suiteP->ReleaseSuite(i_suite_name, i_suite_versionL);
        }
        if (ALLOW_NO_SUITE) {
            return;
        }
        if (out_dataP0) {
            out_dataP0->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
            // "%.255s": return_msg holds 256 bytes whatever the message's length.
            in_data->utils->ansi.sprintf(out_dataP0->return_msg, "%.255s",
                                         err_stringZ0 ? err_stringZ0
                                                      : "Not able to acquire AEFX Suite.");
        }
        A_THROW(A_Err_MISSING_SUITE);
    }

    ~AEFX_SuiteScoper() {
        if (i_suiteP) {
            i_basic_suiteP->ReleaseSuite(i_suite_name, i_suite_versionL);
        }
    }

    AEFX_SuiteScoper(const AEFX_SuiteScoper&) = delete;
    AEFX_SuiteScoper& operator=(const AEFX_SuiteScoper&) = delete;

    const SUITETYPE* operator->() const { return i_suiteP; }
    const SUITETYPE* get() const { return i_suiteP; }

private:
    mutable const SUITETYPE* i_suiteP;
    SPBasicSuite* i_basic_suiteP;
    const char* i_suite_name;
    int32_t i_suite_versionL;
};

#endif // __cplusplus
