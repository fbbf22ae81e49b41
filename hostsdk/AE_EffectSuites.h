// Effect suites: parameter UI updates and the effect's options button.
#pragma once

#include "AE_Effect.h"
#include "SP/SPBasic.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 8)

#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion3 3

typedef struct PF_ParamUtilsSuite3 {
    // Only during USER_CHANGED_PARAM and UPDATE_PARAMS_UI: takes over the UI
    // part of *defP (ui flags, name, flags, slider ranges) for the parameter.
    PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                               const PF_ParamDef* defP);
    // Keyframe and state queries: not used by this project; the slots keep
    // the table's layout.
    AE_StandInUnusedProc PF_GetCurrentState;
    AE_StandInUnusedProc PF_AreStatesIdentical;
    AE_StandInUnusedProc PF_IsIdenticalCheckout;
    AE_StandInUnusedProc PF_FindKeyframeTime;
    AE_StandInUnusedProc PF_GetKeyframeCount;
    AE_StandInUnusedProc PF_CheckoutKeyframe;
    AE_StandInUnusedProc PF_CheckinKeyframe;
    AE_StandInUnusedProc PF_KeyIndexToTime;
} PF_ParamUtilsSuite3;

#define kPFEffectUISuite "PF Effect UI Suite"
#define kPFEffectUISuiteVersion1 1

typedef struct PF_EffectUISuite1 {
    PF_Err (*PF_SetOptionsButtonName)(PF_ProgPtr effect_ref, const A_char* nameZ);
} PF_EffectUISuite1;

#pragma pack(pop)

#ifdef __cplusplus
}
#endif
