// The suite tables the host offers, one source file per suite family;
// SuiteTable.cpp lists them all by name and version for the basic suite.
// Each table is built once, on first use, and is the same for every host
// (its functions find the calling host themselves).
#pragma once

#include "AE_EffectCBSuites.h"
#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"

namespace TEV::Host {

// The table that `Make` builds, built on first use and kept.
template <auto Make>
const auto& builtOnce() {
    static const auto table = Make();
    return table;
}

// PfSuites.cpp: handles, options button, parameter UI, worlds, const sequence
// data, iteration, and the opaque Drawbot tables.
const PF_HandleSuite1& pfHandleSuite1();
const PF_EffectUISuite1& pfEffectUISuite1();
const PF_ParamUtilsSuite3& pfParamUtilsSuite3();
const PF_WorldSuite2& pfWorldSuite2();
const PF_EffectSequenceDataSuite1& pfEffectSequenceDataSuite1();
const PF_Iterate8Suite1& pfIterate8Suite1();
const PF_Iterate16Suite1& pfIterate16Suite1();
const PF_IterateFloatSuite1& pfIterateFloatSuite1();
// Distinct addresses standing in for the Drawbot draw, supplier, surface and
// path suites (index 0 to 3), whose tables are opaque to this project.
const void* drawbotToken(int index);

// AegpUtility.cpp: registration with the AEGP layer, reported info.
const AEGP_UtilitySuite5& aegpUtilitySuite5();
// AegpEffect.cpp: the effect's layer and time, effect references.
const AEGP_PFInterfaceSuite1& aegpPFInterfaceSuite1();
const AEGP_EffectSuite2& aegpEffectSuite2();
// AegpStreams.cpp: parameter streams, their values and hidden flag.
const AEGP_StreamSuite2& aegpStreamSuite2();
const AEGP_StreamSuite5& aegpStreamSuite5();
const AEGP_DynamicStreamSuite2& aegpDynamicStreamSuite2();
// AegpPersistentData.cpp: the application's preferences blob.
const AEGP_PersistentDataSuite3& aegpPersistentDataSuite3();

}  // namespace TEV::Host
