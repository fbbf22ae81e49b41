// AEGP interface: the opaque handle types of layers, effects and streams,
// stream values, dynamic-stream flags, the effect-to-AEGP bridge suite and the
// const sequence-data suite. The older suite tables follow in
// AE_GeneralPlugOld.h, included at the end.
#pragma once

#include "A.h"
#include "AE_Effect.h"
#include "SP/SPBasic.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 8)

#define AEGP_MAX_PLUGIN_NAME_SIZE 32
#define AEGP_MAX_STREAM_NAME_SIZE 32

typedef A_long AEGP_PluginID;
typedef struct _AEGP_GlobalRefcon* AEGP_GlobalRefcon;
typedef struct _AEGP_Effect** AEGP_EffectRefH;
typedef struct _AEGPp_Stream** AEGP_StreamRefH;
typedef struct _AEGP_Layer** AEGP_LayerH;
typedef struct _AEGP_Mask** AEGP_MaskRefH;
typedef struct _AEGP_PersistentBlob** AEGP_PersistentBlobH;
typedef struct _AEGP_MaskOutline** AEGP_MaskOutlineValH;
typedef struct _AEGP_TextDocument** AEGP_TextDocumentH;
typedef struct _AEGP_MarkerVal** AEGP_MarkerValH;
typedef struct _AEGP_MarkerVal* AEGP_MarkerValP;

typedef struct {
    A_long reservedAL[12];
} AEGP_ErrReportState;

typedef A_long AEGP_EffectIndex;
typedef A_long AEGP_InstalledEffectKey;
typedef A_long AEGP_EffectFlags;
typedef A_long AEGP_StreamType;
typedef A_long AEGP_StreamFlags;
typedef A_long AEGP_StreamGroupingType;
typedef A_long AEGP_LayerStream;
typedef A_long AEGP_MaskStream;
typedef A_long AEGP_KeyInterpolationMask;
typedef A_long AEGP_LayerIDVal;
typedef A_long AEGP_MaskIDVal;
typedef A_long AEGP_PersistentType;
typedef A_u_long AEGP_DynStreamFlags;

enum { AEGP_LTimeMode_LayerTime = 0, AEGP_LTimeMode_CompTime = 1 };
typedef A_short AEGP_LTimeMode;

enum {
    AEGP_DynStreamFlag_ACTIVE_EYEBALL = 1L << 0,
    AEGP_DynStreamFlag_HIDDEN = 1L << 1,
    AEGP_DynStreamFlag_DISABLED = 1L << 4,           // read-only
    AEGP_DynStreamFlag_ELIDED = 1L << 5,             // read-only
    AEGP_DynStreamFlag_SHOWN_WHEN_EMPTY = 1L << 10,  // read-only
    AEGP_DynStreamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 1L << 16 // read-only
};

typedef A_FpLong AEGP_OneDVal;
typedef struct {
    A_FpLong x, y;
} AEGP_TwoDVal;
typedef struct {
    A_FpLong x, y, z;
} AEGP_ThreeDVal;
typedef A_FpLong AEGP_FourDVal[4];
typedef struct {
    A_FpLong alphaF, redF, greenF, blueF;
} AEGP_ColorVal;
typedef A_Handle AEGP_ArbBlockVal;

// Value of a stream, for AEGP_StreamSuite2.
typedef union {
    AEGP_FourDVal four_d;
    AEGP_ThreeDVal three_d;
    AEGP_TwoDVal two_d;
    AEGP_OneDVal one_d;
    AEGP_ColorVal color;
    AEGP_ArbBlockVal arbH;
    AEGP_MarkerValH markerH;
    AEGP_LayerIDVal layer_id;
    AEGP_MaskIDVal mask_id;
    AEGP_MaskOutlineValH mask;
    AEGP_TextDocumentH text_documentH;
} AEGP_StreamVal;

// Value of a stream, for AEGP_StreamSuite5.
typedef union {
    AEGP_FourDVal four_d;
    AEGP_ThreeDVal three_d;
    AEGP_TwoDVal two_d;
    AEGP_OneDVal one_d;
    AEGP_ColorVal color;
    AEGP_ArbBlockVal arbH;
    AEGP_MarkerValP markerP;
    AEGP_LayerIDVal layer_id;
    AEGP_MaskIDVal mask_id;
    AEGP_MaskOutlineValH mask;
    AEGP_TextDocumentH text_documentH;
} AEGP_StreamVal2;

typedef struct {
    AEGP_StreamRefH streamH;
    AEGP_StreamVal val;
} AEGP_StreamValue;

typedef struct {
    AEGP_StreamRefH streamH;
    AEGP_StreamVal2 val;
} AEGP_StreamValue2;

// Suite names; the version macros of the tables this project uses are in
// AE_GeneralPlugOld.h.
#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPDynamicStreamSuite "AEGP Dynamic Stream Suite"
#define kAEGPPersistentDataSuite "AEGP Persistent Data Suite"

#define kAEGPPFInterfaceSuiteVersion1 1

typedef struct {
    A_Err (*AEGP_GetEffectLayer)(PF_ProgPtr effect_pp_ref, AEGP_LayerH* layerPH);
    // The reference must be disposed with AEGP_DisposeEffect.
    A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID aegp_plugin_id, PF_ProgPtr effect_pp_ref,
                                        AEGP_EffectRefH* effect_refPH);
    A_Err (*AEGP_ConvertEffectToCompTime)(PF_ProgPtr effect_pp_ref, A_long what_timeL,
                                          A_u_long time_scaleLu, A_Time* comp_timePT);
    A_Err (*AEGP_GetEffectCamera)(PF_ProgPtr effect_pp_ref, const A_Time* comp_timePT,
                                  AEGP_LayerH* camera_layerPH);
    A_Err (*AEGP_GetEffectCameraMatrix)(PF_ProgPtr effect_pp_ref, const A_Time* comp_timePT,
                                        A_Matrix4* camera_matrixP, A_FpLong* dist_to_image_planePF,
                                        A_short* image_plane_widthPL,
                                        A_short* image_plane_heightPL);
} AEGP_PFInterfaceSuite1;

#define kPFEffectSequenceDataSuite "PF Effect Sequence Data Suite"
#define kPFEffectSequenceDataSuiteVersion1 1

typedef struct PF_EffectSequenceDataSuite1 {
    // The instance's sequence data, readable from render threads.
    PF_Err (*PF_GetConstSequenceData)(PF_ProgPtr effect_ref, PF_ConstHandle* sequence_data);
} PF_EffectSequenceDataSuite1;

#pragma pack(pop)

#ifdef __cplusplus
}
#endif

#include "AE_GeneralPlugOld.h"
