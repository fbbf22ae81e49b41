// Registration entry that tells a host the effect's name, match name,
// category and entry point without reading the resource description.
#pragma once

#include "A.h"
#include "AE_EffectVers.h"
#include "SP/SPBasic.h"

#ifdef __cplusplus
extern "C" {
#endif

#define AE_ENTRY_POINT "EffectMain"
#define AE_RESERVED_INFO 8

typedef struct PF_PluginData* PF_PluginDataPtr;

typedef A_Err (*PF_PluginDataCB)(PF_PluginDataPtr inPtr, const A_u_char* inNamePtr,
                                 const A_u_char* inMatchNamePtr, const A_u_char* inCategoryPtr,
                                 const A_u_char* inEntryPointNamePtr, A_long inKind,
                                 A_long inApiVersionMajor, A_long inApiVersionMinor,
                                 A_long inReservedInfo);

typedef A_Err (*PF_PluginDataCB2)(PF_PluginDataPtr inPtr, const A_u_char* inNamePtr,
                                  const A_u_char* inMatchNamePtr, const A_u_char* inCategoryPtr,
                                  const A_u_char* inEntryPointNamePtr, A_long inKind,
                                  A_long inApiVersionMajor, A_long inApiVersionMinor,
                                  A_long inReservedInfo, const A_u_char* inSupportURLPtr);

typedef A_Err (*PluginDataEntryFunctionPtr)(PF_PluginDataPtr inPtr, PF_PluginDataCB inPluginDataCallBackPtr,
                                            SPBasicSuite* inSPBasicSuitePtr,
                                            const char* inHostName, const char* inHostVersion);

typedef A_Err (*PluginDataEntryFunction2Ptr)(PF_PluginDataPtr inPtr,
                                             PF_PluginDataCB2 inPluginDataCallBackPtr,
                                             SPBasicSuite* inSPBasicSuitePtr,
                                             const char* inHostName, const char* inHostVersion);

// Both macros assign the callback's result to a local `result`.
#define PF_REGISTER_EFFECT(INPTR, CBPTR, NAME, MATCHNAME, CATEGORY, RESERVEDINFO)                  \
    result = (*(CBPTR))((INPTR), (const A_u_char*)(NAME), (const A_u_char*)(MATCHNAME),           \
                        (const A_u_char*)(CATEGORY), (const A_u_char*)AE_ENTRY_POINT, 'eFKT',     \
                        PF_PLUG_IN_VERSION, PF_PLUG_IN_SUBVERS, (RESERVEDINFO))

#define PF_REGISTER_EFFECT_EXT2(INPTR, CBPTR, NAME, MATCHNAME, CATEGORY, RESERVEDINFO,             \
                                ENTRY_POINT, SUPPORT_URL)                                          \
    result = (*(CBPTR))((INPTR), (const A_u_char*)(NAME), (const A_u_char*)(MATCHNAME),           \
                        (const A_u_char*)(CATEGORY), (const A_u_char*)(ENTRY_POINT), 'eFKT',      \
                        PF_PLUG_IN_VERSION, PF_PLUG_IN_SUBVERS, (RESERVEDINFO),                    \
                        (const A_u_char*)(SUPPORT_URL))

#ifdef __cplusplus
}
#endif
