#include "AEGP_SuiteHandler.h"

#include <cstring>

AEGP_SuiteHandler::AEGP_SuiteHandler(const SPBasicSuite* pica_basicP) : i_pica_basicP(pica_basicP) {
    std::memset(&i_suites, 0, sizeof(i_suites));
    if (!i_pica_basicP) {
        MissingSuiteError();
    }
}

AEGP_SuiteHandler::~AEGP_SuiteHandler() { ReleaseAllSuites(); }

const SPBasicSuite* AEGP_SuiteHandler::Pica() const { return i_pica_basicP; }

void* AEGP_SuiteHandler::LoadSuite(const A_char* name, A_long version) const {
    const void* suite = nullptr;
    SPErr err = i_pica_basicP->AcquireSuite(name, version, &suite);
    if (err == kSPNoError && !suite) {
        // Counted by the host but unusable: give it back before failing.
        i_pica_basicP->ReleaseSuite(name, version);
    }
    if (err != kSPNoError || !suite) {
        MissingSuiteError();
    }
    return const_cast<void*>(suite);
}

void AEGP_SuiteHandler::ReleaseSuite(const A_char* name, A_long version) {
    (void)i_pica_basicP->ReleaseSuite(name, version);
}

void AEGP_SuiteHandler::ReleaseAllSuites() {
    Suites& s = i_suites;
    auto release = [this](const void* held, const A_char* name, A_long version) {
        if (held) {
            ReleaseSuite(name, version);
        }
    };
    release(s.handle_suite1P, kPFHandleSuite, kPFHandleSuiteVersion1);
    release(s.utility_suite5P, kAEGPUtilitySuite, kAEGPUtilitySuiteVersion5);
    release(s.pf_interface_suite1P, kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1);
    release(s.effect_suite2P, kAEGPEffectSuite, kAEGPEffectSuiteVersion2);
    release(s.stream_suite2P, kAEGPStreamSuite, kAEGPStreamSuiteVersion2);
    release(s.stream_suite5P, kAEGPStreamSuite, kAEGPStreamSuiteVersion5);
    release(s.dynamic_stream_suite2P, kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2);
    release(s.persistent_data_suite3P, kAEGPPersistentDataSuite, kAEGPPersistentDataSuiteVersion3);
    release(s.param_utils_suite3P, kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3);
    release(s.iterate8_suite1P, kPFIterate8Suite, kPFIterate8SuiteVersion1);
    release(s.iterate16_suite1P, kPFIterate16Suite, kPFIterate16SuiteVersion1);
    release(s.iterate_float_suite1P, kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1);
}

PF_HandleSuite1* AEGP_SuiteHandler::HandleSuite1() const {
    return Cached(i_suites.handle_suite1P, kPFHandleSuite, kPFHandleSuiteVersion1);
}
AEGP_UtilitySuite5* AEGP_SuiteHandler::UtilitySuite5() const {
    return Cached(i_suites.utility_suite5P, kAEGPUtilitySuite, kAEGPUtilitySuiteVersion5);
}
AEGP_PFInterfaceSuite1* AEGP_SuiteHandler::PFInterfaceSuite1() const {
    return Cached(i_suites.pf_interface_suite1P, kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1);
}
AEGP_EffectSuite2* AEGP_SuiteHandler::EffectSuite2() const {
    return Cached(i_suites.effect_suite2P, kAEGPEffectSuite, kAEGPEffectSuiteVersion2);
}
AEGP_StreamSuite2* AEGP_SuiteHandler::StreamSuite2() const {
    return Cached(i_suites.stream_suite2P, kAEGPStreamSuite, kAEGPStreamSuiteVersion2);
}
AEGP_StreamSuite5* AEGP_SuiteHandler::StreamSuite5() const {
    return Cached(i_suites.stream_suite5P, kAEGPStreamSuite, kAEGPStreamSuiteVersion5);
}
AEGP_DynamicStreamSuite2* AEGP_SuiteHandler::DynamicStreamSuite2() const {
    return Cached(i_suites.dynamic_stream_suite2P, kAEGPDynamicStreamSuite,
                  kAEGPDynamicStreamSuiteVersion2);
}
AEGP_PersistentDataSuite3* AEGP_SuiteHandler::PersistentDataSuite3() const {
    return Cached(i_suites.persistent_data_suite3P, kAEGPPersistentDataSuite,
                  kAEGPPersistentDataSuiteVersion3);
}
PF_ParamUtilsSuite3* AEGP_SuiteHandler::ParamUtilsSuite3() const {
    return Cached(i_suites.param_utils_suite3P, kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3);
}
PF_Iterate8Suite1* AEGP_SuiteHandler::Iterate8Suite1() const {
    return Cached(i_suites.iterate8_suite1P, kPFIterate8Suite, kPFIterate8SuiteVersion1);
}
PF_Iterate16Suite1* AEGP_SuiteHandler::Iterate16Suite1() const {
    return Cached(i_suites.iterate16_suite1P, kPFIterate16Suite, kPFIterate16SuiteVersion1);
}
PF_IterateFloatSuite1* AEGP_SuiteHandler::IterateFloatSuite1() const {
    return Cached(i_suites.iterate_float_suite1P, kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1);
}
