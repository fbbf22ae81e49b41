// AEGP_SuiteHandler: a per-call object that acquires host suites on first use
// and releases every suite it acquired when it is destroyed. Build one on the
// stack in each command handler; never copy or share it between threads.
#pragma once

#include "AE_EffectCBSuites.h"
#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"
#include "SP/SPBasic.h"

class AEGP_SuiteHandler {
public:
    // Stores the basic suite; a null basic suite throws PF_Err 516 at once.
    explicit AEGP_SuiteHandler(const SPBasicSuite* pica_basicP);
    // Releases every suite acquired through this handler; release errors are ignored.
    ~AEGP_SuiteHandler();

    AEGP_SuiteHandler(const AEGP_SuiteHandler&) = delete;
    AEGP_SuiteHandler& operator=(const AEGP_SuiteHandler&) = delete;

    const SPBasicSuite* Pica() const;

    // Each accessor acquires its suite on the first call and caches it; a
    // suite the host does not have (an error or a null table) throws PF_Err 516.
    PF_HandleSuite1* HandleSuite1() const;                  // "PF Handle Suite" 2
    AEGP_UtilitySuite5* UtilitySuite5() const;              // "AEGP Utility Suite" 11
    AEGP_PFInterfaceSuite1* PFInterfaceSuite1() const;      // "AEGP PF Interface Suite" 1
    AEGP_EffectSuite2* EffectSuite2() const;                // "AEGP Effect Suite" 2
    AEGP_StreamSuite2* StreamSuite2() const;                // "AEGP Stream Suite" 7
    AEGP_StreamSuite5* StreamSuite5() const;                // "AEGP Stream Suite" 10
    AEGP_DynamicStreamSuite2* DynamicStreamSuite2() const;  // "AEGP Dynamic Stream Suite" 2
    AEGP_PersistentDataSuite3* PersistentDataSuite3() const; // "AEGP Persistent Data Suite" 3
    PF_ParamUtilsSuite3* ParamUtilsSuite3() const;          // "PF Param Utils Suite" 3
    PF_Iterate8Suite1* Iterate8Suite1() const;              // "PF Iterate8 Suite" 1
    PF_Iterate16Suite1* Iterate16Suite1() const;            // "PF iterate16 Suite" 1
    PF_IterateFloatSuite1* IterateFloatSuite1() const;      // "PF iterateFloat Suite" 1

private:
    struct Suites {
        PF_HandleSuite1* handle_suite1P;
        AEGP_UtilitySuite5* utility_suite5P;
        AEGP_PFInterfaceSuite1* pf_interface_suite1P;
        AEGP_EffectSuite2* effect_suite2P;
        AEGP_StreamSuite2* stream_suite2P;
        AEGP_StreamSuite5* stream_suite5P;
        AEGP_DynamicStreamSuite2* dynamic_stream_suite2P;
        AEGP_PersistentDataSuite3* persistent_data_suite3P;
        PF_ParamUtilsSuite3* param_utils_suite3P;
        PF_Iterate8Suite1* iterate8_suite1P;
        PF_Iterate16Suite1* iterate16_suite1P;
        PF_IterateFloatSuite1* iterate_float_suite1P;
    };

    // Acquires name/version or calls MissingSuiteError.
    void* LoadSuite(const A_char* name, A_long version) const;
    template <typename T>
    T* Cached(T*& slot, const A_char* name, A_long version) const {
        if (!slot) {
            slot = static_cast<T*>(LoadSuite(name, version));
        }
        return slot;
    }
    void ReleaseSuite(const A_char* name, A_long version);
    void ReleaseAllSuites();
    // Supplied by MissingSuiteError.cpp: throws PF_Err_BAD_CALLBACK_PARAM (516).
    [[noreturn]] void MissingSuiteError() const;

    const SPBasicSuite* i_pica_basicP;
    mutable Suites i_suites;
};
