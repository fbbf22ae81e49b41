// Older AEGP suite tables that the effect uses: AEGP registration, effect and
// stream references, stream visibility and the application's persistent data.
#pragma once

#include "AE_GeneralPlug.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 8)

// Version numbers differ from the struct suffixes: 11 is AEGP_UtilitySuite5,
// 7 is AEGP_StreamSuite2, 10 is AEGP_StreamSuite5.
#define kAEGPUtilitySuiteVersion5 11
#define kAEGPEffectSuiteVersion2 2
#define kAEGPStreamSuiteVersion2 7
#define kAEGPStreamSuiteVersion5 10
#define kAEGPDynamicStreamSuiteVersion2 2
#define kAEGPPersistentDataSuiteVersion3 3

typedef struct {
    A_Err (*AEGP_ReportInfo)(AEGP_PluginID aegp_plugin_id, const A_char* info_stringZ);
    A_Err (*AEGP_GetDriverPluginInitFuncVersion)(A_short* init_func_major_versionPS,
                                                 A_short* init_func_minor_versionPS);
    A_Err (*AEGP_GetDriverImplementationVersion)(A_short* impl_major_versionPS,
                                                 A_short* impl_minor_versionPS);
    A_Err (*AEGP_StartQuietErrors)(AEGP_ErrReportState* err_stateP);
    A_Err (*AEGP_EndQuietErrors)(A_Boolean report_quieted_errorsB, AEGP_ErrReportState* err_stateP);
    A_Err (*AEGP_GetLastErrorMessage)(A_long buffer_size, A_char* error_string, A_Err* error_num);
    A_Err (*AEGP_StartUndoGroup)(const A_char* undo_nameZ);
    A_Err (*AEGP_EndUndoGroup)(void);
    // plugin_nameZ holds at most AEGP_MAX_PLUGIN_NAME_SIZE characters.
    A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char* plugin_nameZ,
                                   AEGP_PluginID* plugin_id);
    // Not used by this project; the slots keep the table's layout.
    AE_StandInUnusedProc AEGP_GetMainHWND;
    AE_StandInUnusedProc AEGP_ShowHideAllFloaters;
    AE_StandInUnusedProc AEGP_PaintPalGetForeColor;
    AE_StandInUnusedProc AEGP_PaintPalGetBackColor;
    AE_StandInUnusedProc AEGP_PaintPalSetForeColor;
    AE_StandInUnusedProc AEGP_PaintPalSetBackColor;
    AE_StandInUnusedProc AEGP_CharPalGetFillColor;
    AE_StandInUnusedProc AEGP_CharPalGetStrokeColor;
    AE_StandInUnusedProc AEGP_CharPalSetFillColor;
    AE_StandInUnusedProc AEGP_CharPalSetStrokeColor;
    AE_StandInUnusedProc AEGP_CharPalIsFillColorUIFrontmost;
    AE_StandInUnusedProc AEGP_ConvertFpLongToHSFRatio;
    AE_StandInUnusedProc AEGP_ConvertHSFRatioToFpLong;
    AE_StandInUnusedProc AEGP_CauseIdleRoutinesToBeCalled;
    AE_StandInUnusedProc AEGP_GetSuppressInteractiveUI;
    AE_StandInUnusedProc AEGP_WriteToOSConsole;
    AE_StandInUnusedProc AEGP_WriteToDebugLog;
    AE_StandInUnusedProc AEGP_IsScriptingAvailable;
    AE_StandInUnusedProc AEGP_ExecuteScript;
    AE_StandInUnusedProc AEGP_HostIsActivated;
    AE_StandInUnusedProc AEGP_GetPluginPlatformRef;
    AE_StandInUnusedProc AEGP_UpdateFontList;
} AEGP_UtilitySuite5;

typedef struct {
    A_Err (*AEGP_GetLayerNumEffects)(AEGP_LayerH layerH, A_long* num_effectsPL);
    A_Err (*AEGP_GetLayerEffectByIndex)(AEGP_PluginID aegp_plugin_id, AEGP_LayerH layerH,
                                        AEGP_EffectIndex layer_effect_index,
                                        AEGP_EffectRefH* effectPH);
    A_Err (*AEGP_GetInstalledKeyFromLayerEffect)(AEGP_EffectRefH effectH,
                                                 AEGP_InstalledEffectKey* installed_keyP);
    A_Err (*AEGP_GetEffectParamUnionByIndex)(AEGP_PluginID aegp_plugin_id, AEGP_EffectRefH effectH,
                                             PF_ParamIndex param_index, PF_ParamType* param_typeP,
                                             PF_ParamDefUnion* uP0);
    A_Err (*AEGP_GetEffectFlags)(AEGP_EffectRefH effectH, AEGP_EffectFlags* effect_flagsP);
    A_Err (*AEGP_SetEffectFlags)(AEGP_EffectRefH effectH, AEGP_EffectFlags mask,
                                 AEGP_EffectFlags effect_flags);
    A_Err (*AEGP_ReorderEffect)(AEGP_EffectRefH effectH, A_long effect_index);
    A_Err (*AEGP_EffectCallGeneric)(AEGP_PluginID aegp_plugin_id, AEGP_EffectRefH effectH,
                                    const A_Time* timePT, void* effect_extraPV);
    A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);
    // Not used by this project; the slots keep the table's layout.
    AE_StandInUnusedProc AEGP_ApplyEffect;
    AE_StandInUnusedProc AEGP_DeleteLayerEffect;
    AE_StandInUnusedProc AEGP_GetNumInstalledEffects;
    AE_StandInUnusedProc AEGP_GetNextInstalledEffect;
    AE_StandInUnusedProc AEGP_GetEffectName;
    AE_StandInUnusedProc AEGP_GetEffectMatchName;
    AE_StandInUnusedProc AEGP_GetEffectCategory;
    AE_StandInUnusedProc AEGP_DuplicateEffect;
} AEGP_EffectSuite2;

typedef struct {
    A_Err (*AEGP_IsStreamLegal)(AEGP_LayerH layerH, AEGP_LayerStream which_stream,
                                A_Boolean* is_legalP);
    A_Err (*AEGP_CanVaryOverTime)(AEGP_StreamRefH streamH, A_Boolean* can_varyPB);
    A_Err (*AEGP_GetValidInterpolations)(AEGP_StreamRefH streamH,
                                         AEGP_KeyInterpolationMask* valid_interpP);
    A_Err (*AEGP_GetNewLayerStream)(AEGP_PluginID aegp_plugin_id, AEGP_LayerH layerH,
                                    AEGP_LayerStream which_stream, AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_GetEffectNumParamStreams)(AEGP_EffectRefH effect_refH, A_long* num_paramsPL);
    // Index 0 is the input layer; the stream must be disposed.
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID aegp_plugin_id,
                                            AEGP_EffectRefH effect_refH, PF_ParamIndex param_index,
                                            AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_GetNewMaskStream)(AEGP_PluginID aegp_plugin_id, AEGP_MaskRefH mask_refH,
                                   AEGP_MaskStream which_stream, AEGP_StreamRefH* mask_strmPH);
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
    A_Err (*AEGP_GetStreamName)(AEGP_StreamRefH streamH, A_Boolean force_englishB, A_char* nameZ);
    A_Err (*AEGP_GetStreamUnitsText)(AEGP_StreamRefH streamH, A_Boolean force_englishB,
                                     A_char* unitsZ);
    A_Err (*AEGP_GetStreamProperties)(AEGP_StreamRefH streamH, AEGP_StreamFlags* flagsP,
                                      A_FpLong* minP0, A_FpLong* maxP0);
    A_Err (*AEGP_IsStreamTimevarying)(AEGP_StreamRefH streamH, A_Boolean* is_timevaryPB);
    A_Err (*AEGP_GetStreamType)(AEGP_StreamRefH streamH, AEGP_StreamType* stream_typeP);
    // The value must be disposed with AEGP_DisposeStreamValue.
    A_Err (*AEGP_GetNewStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                    AEGP_LTimeMode time_mode, const A_Time* timePT,
                                    A_Boolean pre_expressionB, AEGP_StreamValue* valueP);
    A_Err (*AEGP_DisposeStreamValue)(AEGP_StreamValue* valueP);
    // Only legal while the stream has no keyframes.
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                 AEGP_StreamValue* valueP);
    A_Err (*AEGP_GetLayerStreamValue)(AEGP_LayerH layerH, AEGP_LayerStream which_stream,
                                      AEGP_LTimeMode time_mode, const A_Time* timePT,
                                      A_Boolean pre_expressionB, AEGP_StreamVal* stream_valP,
                                      AEGP_StreamType* stream_typeP0);
    A_Err (*AEGP_GetExpressionState)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                     A_Boolean* enabledPB);
    A_Err (*AEGP_SetExpressionState)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                     A_Boolean enabledB);
    A_Err (*AEGP_GetExpression)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                AEGP_MemHandle* expressionPH);
    A_Err (*AEGP_SetExpression)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                const A_char* expressionP);
    A_Err (*AEGP_DuplicateStreamRef)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                     AEGP_StreamRefH* dup_streamPH);
} AEGP_StreamSuite2;

typedef struct {
    A_Err (*AEGP_IsStreamLegal)(AEGP_LayerH layerH, AEGP_LayerStream which_stream,
                                A_Boolean* is_legalP);
    A_Err (*AEGP_CanVaryOverTime)(AEGP_StreamRefH streamH, A_Boolean* can_varyPB);
    A_Err (*AEGP_GetValidInterpolations)(AEGP_StreamRefH streamH,
                                         AEGP_KeyInterpolationMask* valid_interpP);
    A_Err (*AEGP_GetNewLayerStream)(AEGP_PluginID aegp_plugin_id, AEGP_LayerH layerH,
                                    AEGP_LayerStream which_stream, AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_GetEffectNumParamStreams)(AEGP_EffectRefH effect_refH, A_long* num_paramsPL);
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID aegp_plugin_id,
                                            AEGP_EffectRefH effect_refH, PF_ParamIndex param_index,
                                            AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_GetNewMaskStream)(AEGP_PluginID aegp_plugin_id, AEGP_MaskRefH mask_refH,
                                   AEGP_MaskStream which_stream, AEGP_StreamRefH* mask_strmPH);
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
    // The name comes back as UTF-16 in memory the caller frees.
    A_Err (*AEGP_GetStreamName)(AEGP_PluginID pluginID, AEGP_StreamRefH streamH,
                                A_Boolean force_englishB, AEGP_MemHandle* utf_stream_namePH);
    A_Err (*AEGP_GetStreamUnitsText)(AEGP_StreamRefH streamH, A_Boolean force_englishB,
                                     A_char* unitsZ);
    A_Err (*AEGP_GetStreamProperties)(AEGP_StreamRefH streamH, AEGP_StreamFlags* flagsP,
                                      A_FpLong* minP0, A_FpLong* maxP0);
    A_Err (*AEGP_IsStreamTimevarying)(AEGP_StreamRefH streamH, A_Boolean* is_timevaryPB);
    A_Err (*AEGP_GetStreamType)(AEGP_StreamRefH streamH, AEGP_StreamType* stream_typeP);
    A_Err (*AEGP_GetNewStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                    AEGP_LTimeMode time_mode, const A_Time* timePT,
                                    A_Boolean pre_expressionB, AEGP_StreamValue2* valueP);
    A_Err (*AEGP_DisposeStreamValue)(AEGP_StreamValue2* valueP);
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                 AEGP_StreamValue2* valueP);
    A_Err (*AEGP_GetLayerStreamValue)(AEGP_LayerH layerH, AEGP_LayerStream which_stream,
                                      AEGP_LTimeMode time_mode, const A_Time* timePT,
                                      A_Boolean pre_expressionB, AEGP_StreamVal2* stream_valP,
                                      AEGP_StreamType* stream_typeP0);
    A_Err (*AEGP_GetExpressionState)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                     A_Boolean* enabledPB);
    A_Err (*AEGP_SetExpressionState)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                     A_Boolean enabledB);
    A_Err (*AEGP_GetExpression)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                AEGP_MemHandle* unicodeHZ);
    A_Err (*AEGP_SetExpression)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                const A_UTF16Char* expressionP);
    A_Err (*AEGP_DuplicateStreamRef)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                     AEGP_StreamRefH* dup_streamPH);
} AEGP_StreamSuite5;

typedef struct {
    A_Err (*AEGP_GetNewStreamRefForLayer)(AEGP_PluginID aegp_plugin_id, AEGP_LayerH layerH,
                                          AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_GetStreamDepth)(AEGP_StreamRefH streamH, A_long* depthPL);
    A_Err (*AEGP_GetStreamGroupingType)(AEGP_StreamRefH streamH,
                                        AEGP_StreamGroupingType* group_typeP);
    A_Err (*AEGP_GetNumStreamsInGroup)(AEGP_StreamRefH streamH, A_long* num_streamsPL);
    A_Err (*AEGP_GetDynamicStreamFlags)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags* stream_flagsP);
    // With undoableB false only AEGP_DynStreamFlag_HIDDEN may be changed.
    A_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag,
                                       A_Boolean undoableB, A_Boolean setB);
    // Not used by this project; the slots keep the table's layout.
    AE_StandInUnusedProc AEGP_GetNewStreamRefByIndex;
    AE_StandInUnusedProc AEGP_GetNewStreamRefByMatchname;
    AE_StandInUnusedProc AEGP_DeleteStream;
    AE_StandInUnusedProc AEGP_ReorderStream;
    AE_StandInUnusedProc AEGP_DuplicateStream;
    AE_StandInUnusedProc AEGP_SetStreamName;
    AE_StandInUnusedProc AEGP_CanAddStream;
    AE_StandInUnusedProc AEGP_AddStream;
    AE_StandInUnusedProc AEGP_GetMatchName;
    AE_StandInUnusedProc AEGP_GetNewParentStreamRef;
    AE_StandInUnusedProc AEGP_GetStreamIsModified;
} AEGP_DynamicStreamSuite2;

typedef struct {
    A_Err (*AEGP_GetApplicationBlob)(AEGP_PersistentBlobH* blobPH);
    A_Err (*AEGP_GetNumSections)(AEGP_PersistentBlobH blobH, A_long* num_sectionPL);
    A_Err (*AEGP_GetSectionKeyByIndex)(AEGP_PersistentBlobH blobH, A_long section_index,
                                       A_long max_section_size, A_char* section_keyZ);
    A_Err (*AEGP_DoesKeyExist)(AEGP_PersistentBlobH blobH, const A_char* section_keyZ,
                               const A_char* value_keyZ, A_Boolean* existsPB);
    A_Err (*AEGP_GetNumKeys)(AEGP_PersistentBlobH blobH, const A_char* section_keyZ,
                             A_long* num_keysPL);
    A_Err (*AEGP_GetValueKeyByIndex)(AEGP_PersistentBlobH blobH, const A_char* section_keyZ,
                                     A_long key_index, A_long max_key_size, A_char* value_keyZ);
    A_Err (*AEGP_GetDataHandle)(AEGP_PluginID plugin_id, AEGP_PersistentBlobH blobH,
                                const A_char* section_keyZ, const A_char* value_keyZ,
                                AEGP_MemHandle defaultH0, AEGP_MemHandle* valuePH);
    A_Err (*AEGP_GetData)(AEGP_PersistentBlobH blobH, const A_char* section_keyZ,
                          const A_char* value_keyZ, A_u_long data_sizeLu, const void* defaultPV0,
                          void* bufPV);
    // A missing key gets the default stored and returned; a buffer too small
    // for the value comes back as "".
    A_Err (*AEGP_GetString)(AEGP_PersistentBlobH blobH, const A_char* section_keyZ,
                            const A_char* value_keyZ, const A_char* defaultZ0,
                            A_u_long buf_sizeLu, A_char* bufZ, A_u_long* actual_buf_sizeLu0);
    A_Err (*AEGP_GetLong)(AEGP_PersistentBlobH blobH, const A_char* section_keyZ,
                          const A_char* value_keyZ, A_long defaultL, A_long* valuePL);
    A_Err (*AEGP_GetFpLong)(AEGP_PersistentBlobH blobH, const A_char* section_keyZ,
                            const A_char* value_keyZ, A_FpLong defaultF, A_FpLong* valuePF);
    A_Err (*AEGP_SetDataHandle)(AEGP_PersistentBlobH blobH, const A_char* section_keyZ,
                                const A_char* value_keyZ, const AEGP_MemHandle valueH);
    A_Err (*AEGP_SetData)(AEGP_PersistentBlobH blobH, const A_char* section_keyZ,
                          const A_char* value_keyZ, A_u_long data_sizeLu, const void* dataPV);
    A_Err (*AEGP_SetString)(AEGP_PersistentBlobH blobH, const A_char* section_keyZ,
                            const A_char* value_keyZ, const A_char* strZ);
    // Not used by this project; the slots keep the table's layout.
    AE_StandInUnusedProc AEGP_SetLong;
    AE_StandInUnusedProc AEGP_SetFpLong;
    AE_StandInUnusedProc AEGP_DeleteEntry;
    AE_StandInUnusedProc AEGP_GetPrefsDirectory;
} AEGP_PersistentDataSuite3;

#pragma pack(pop)

#ifdef __cplusplus
}
#endif
