// Effect interface: commands, error codes, flags, pixel and world records,
// parameter definitions, smart-render records, and the PF_InData / PF_OutData
// records that travel with every call of the effect's entry point.
#pragma once

#include "A.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 8)

// ---------------------------------------------------------------------------
// Versions
// ---------------------------------------------------------------------------

#define PF_AE_PLUG_IN_VERSION 13
#define PF_AE_PLUG_IN_SUBVERS 28

#define PF_VERS_BUILD_BITS 0x1ffL
#define PF_VERS_BUILD_SHIFT 0
#define PF_VERS_STAGE_BITS 0x3L
#define PF_VERS_STAGE_SHIFT 9
#define PF_VERS_BUGFIX_BITS 0xfL
#define PF_VERS_BUGFIX_SHIFT 11
#define PF_VERS_SUBVERS_BITS 0xfL
#define PF_VERS_SUBVERS_SHIFT 15
#define PF_VERS_VERS_BITS 0x7L
#define PF_VERS_VERS_SHIFT 19
#define PF_VERS_VERS_HIGH_BITS 0xfL
#define PF_VERS_VERS_HIGH_SHIFT 26
#define PF_VERS_VERS_LOW_SHIFT 3

// Packs a version word: version (split low 3 / high 4 bits), sub-version,
// bug-fix level, stage and build.
#define PF_VERSION(VERS, SUBVERS, BUGVERS, STAGE, BUILD)                                           \
    ((A_u_long)((((A_u_long)(((VERS) >> PF_VERS_VERS_LOW_SHIFT) & PF_VERS_VERS_HIGH_BITS))        \
                 << PF_VERS_VERS_HIGH_SHIFT) |                                                     \
                ((((A_u_long)(VERS)) & PF_VERS_VERS_BITS) << PF_VERS_VERS_SHIFT) |                \
                ((((A_u_long)(SUBVERS)) & PF_VERS_SUBVERS_BITS) << PF_VERS_SUBVERS_SHIFT) |       \
                ((((A_u_long)(BUGVERS)) & PF_VERS_BUGFIX_BITS) << PF_VERS_BUGFIX_SHIFT) |         \
                ((((A_u_long)(STAGE)) & PF_VERS_STAGE_BITS) << PF_VERS_STAGE_SHIFT) |             \
                ((((A_u_long)(BUILD)) & PF_VERS_BUILD_BITS) << PF_VERS_BUILD_SHIFT)))

#define PF_Version_VERS(V)                                                                         \
    ((((V) >> PF_VERS_VERS_SHIFT) & PF_VERS_VERS_BITS) |                                           \
     ((((V) >> PF_VERS_VERS_HIGH_SHIFT) & PF_VERS_VERS_HIGH_BITS) << PF_VERS_VERS_LOW_SHIFT))
#define PF_Version_SUBVERS(V) (((V) >> PF_VERS_SUBVERS_SHIFT) & PF_VERS_SUBVERS_BITS)
#define PF_Version_BUGFIX(V) (((V) >> PF_VERS_BUGFIX_SHIFT) & PF_VERS_BUGFIX_BITS)
#define PF_Version_STAGE(V) (((V) >> PF_VERS_STAGE_SHIFT) & PF_VERS_STAGE_BITS)
#define PF_Version_BUILD(V) (((V) >> PF_VERS_BUILD_SHIFT) & PF_VERS_BUILD_BITS)

enum { PF_Stage_DEVELOP, PF_Stage_ALPHA, PF_Stage_BETA, PF_Stage_RELEASE };
typedef A_long PF_Stage;

// ---------------------------------------------------------------------------
// Limits
// ---------------------------------------------------------------------------

#define PF_MAX_EFFECT_NAME_LEN 31
#define PF_MAX_EFFECT_CATEGORY_NAME_LEN 31
#define PF_MAX_EFFECT_PARAM_NAME_LEN 31
#define PF_MAX_PARAM_DESCRIPTION_LEN 31
#define PF_MAX_PARAM_VALUE_LEN 31
#define PF_MAX_EFFECT_MSG_LEN 255
#define PF_MAX_WORLD_WIDTH 30000
#define PF_MAX_WORLD_HEIGHT 30000
#define PF_FIRST_ERR 512
#define PF_MAX_CHAN8 255
#define PF_HALF_CHAN8 128
#define PF_MAX_CHAN16 32768
#define PF_HALF_CHAN16 16384

// ---------------------------------------------------------------------------
// Platform-dependent scalars (Linux follows the non-Apple definitions)
// ---------------------------------------------------------------------------

typedef A_long PF_Fixed;          // 16.16 fixed point
typedef unsigned char PF_Boolean; // one byte on every platform
typedef char** PF_Handle;         // opaque host memory; *handle is the data while locked
typedef A_u_long PF_UFixed;
typedef A_long PF_ParamValue;
typedef A_long PF_ParamIndex;
typedef A_FpLong PF_FpLong;
typedef A_FpShort PF_FpShort;
typedef const void* PF_ConstPtr;
typedef const PF_ConstPtr* PF_ConstHandle;

typedef struct PF_ProgressInfo* PF_ProgPtr; // the effect_ref of every callback

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

enum {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = PF_FIRST_ERR, // 512
    PF_Err_INVALID_INDEX,                          // 513
    PF_Err_UNRECOGNIZED_PARAM_TYPE,                // 514
    PF_Err_INVALID_CALLBACK,                       // 515
    PF_Err_BAD_CALLBACK_PARAM,                     // 516
    PF_Interrupt_CANCEL,                           // 517
    PF_Err_CANNOT_PARSE_KEYFRAME_TEXT              // 518
};
typedef A_long PF_Err;

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

enum {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP,
    PF_Cmd_UNUSED_0,
    PF_Cmd_GLOBAL_SETDOWN,
    PF_Cmd_PARAMS_SETUP,
    PF_Cmd_SEQUENCE_SETUP,
    PF_Cmd_SEQUENCE_RESETUP,
    PF_Cmd_SEQUENCE_FLATTEN,
    PF_Cmd_SEQUENCE_SETDOWN,
    PF_Cmd_DO_DIALOG,
    PF_Cmd_FRAME_SETUP,
    PF_Cmd_RENDER,
    PF_Cmd_FRAME_SETDOWN,
    PF_Cmd_USER_CHANGED_PARAM,
    PF_Cmd_UPDATE_PARAMS_UI,
    PF_Cmd_EVENT,
    PF_Cmd_GET_EXTERNAL_DEPENDENCIES,
    PF_Cmd_COMPLETELY_GENERAL,
    PF_Cmd_QUERY_DYNAMIC_FLAGS,
    PF_Cmd_AUDIO_RENDER,
    PF_Cmd_AUDIO_SETUP,
    PF_Cmd_AUDIO_SETDOWN,
    PF_Cmd_ARBITRARY_CALLBACK,
    PF_Cmd_SMART_PRE_RENDER,
    PF_Cmd_SMART_RENDER,
    PF_Cmd_RESERVED1,
    PF_Cmd_RESERVED2,
    PF_Cmd_RESERVED3,
    PF_Cmd_GET_FLATTENED_SEQUENCE_DATA,
    PF_Cmd_TRANSLATE_PARAMS_TO_PREFS,
    PF_Cmd_RESERVED4,
    PF_Cmd_SMART_RENDER_GPU,
    PF_Cmd_GPU_DEVICE_SETUP,
    PF_Cmd_GPU_DEVICE_SETDOWN,
    PF_Cmd_NUM_CMDS
};
typedef A_long PF_Cmd;

// ---------------------------------------------------------------------------
// Flags
// ---------------------------------------------------------------------------

enum {
    PF_OutFlag_NONE = 0L,
    PF_OutFlag_KEEP_RESOURCE_OPEN = 1L << 0,
    PF_OutFlag_WIDE_TIME_INPUT = 1L << 1,
    PF_OutFlag_NON_PARAM_VARY = 1L << 2,
    PF_OutFlag_RESERVED6 = 1L << 3,
    PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING = 1L << 4,
    PF_OutFlag_I_DO_DIALOG = 1L << 5,
    PF_OutFlag_USE_OUTPUT_EXTENT = 1L << 6,
    PF_OutFlag_SEND_DO_DIALOG = 1L << 7,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1L << 8,
    PF_OutFlag_I_EXPAND_BUFFER = 1L << 9,
    PF_OutFlag_PIX_INDEPENDENT = 1L << 10,
    PF_OutFlag_I_WRITE_INPUT_BUFFER = 1L << 11,
    PF_OutFlag_I_SHRINK_BUFFER = 1L << 12,
    PF_OutFlag_WORKS_IN_PLACE = 1L << 13,
    PF_OutFlag_RESERVED8 = 1L << 14,
    PF_OutFlag_CUSTOM_UI = 1L << 15,
    PF_OutFlag_RESERVED7 = 1L << 16,
    PF_OutFlag_REFRESH_UI = 1L << 17,
    PF_OutFlag_NOP_RENDER = 1L << 18,
    PF_OutFlag_I_USE_SHUTTER_ANGLE = 1L << 19,
    PF_OutFlag_I_USE_AUDIO = 1L << 20,
    PF_OutFlag_I_AM_OBSOLETE = 1L << 21,
    PF_OutFlag_FORCE_RERENDER = 1L << 22,
    PF_OutFlag_PiPL_OVERRIDES_OUTDATA_OUTFLAGS = 1L << 23,
    PF_OutFlag_I_HAVE_EXTERNAL_DEPENDENCIES = 1L << 24,
    PF_OutFlag_DEEP_COLOR_AWARE = 1L << 25,
    PF_OutFlag_SEND_UPDATE_PARAMS_UI = 1L << 26,
    PF_OutFlag_AUDIO_FLOAT_ONLY = 1L << 27,
    PF_OutFlag_AUDIO_IIR = 1L << 28,
    PF_OutFlag_I_SYNTHESIZE_AUDIO = 1L << 29,
    PF_OutFlag_AUDIO_EFFECT_TOO = 1L << 30,
    PF_OutFlag_AUDIO_EFFECT_ONLY = (A_long)(1UL << 31)
};
typedef A_long PF_OutFlags;

enum {
    PF_OutFlag2_NONE = 0L,
    PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS = 1L << 0,
    PF_OutFlag2_I_USE_3D_CAMERA = 1L << 1,
    PF_OutFlag2_I_USE_3D_LIGHTS = 1L << 2,
    PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 1L << 3,
    PF_OutFlag2_I_AM_THREADSAFE = 1L << 4,
    PF_OutFlag2_CAN_COMBINE_WITH_DESTINATION = 1L << 5,
    PF_OutFlag2_DOESNT_NEED_EMPTY_PIXELS = 1L << 6,
    PF_OutFlag2_REVEALS_ZERO_ALPHA = 1L << 7,
    PF_OutFlag2_PRESERVES_FULLY_OPAQUE_PIXELS = 1L << 8,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 1L << 10,
    PF_OutFlag2_RESERVED9 = 1L << 11,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 1L << 12,
    PF_OutFlag2_I_USE_COLORSPACE_ENUMERATION = 1L << 13,
    PF_OutFlag2_I_AM_DEPRECATED = 1L << 14,
    PF_OutFlag2_PPRO_DO_NOT_CLONE_SEQUENCE_DATA_FOR_RENDER = 1L << 15,
    PF_OutFlag2_RESERVED10 = 1L << 16,
    PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT = 1L << 17,
    PF_OutFlag2_I_USE_TIMECODE = 1L << 18,
    PF_OutFlag2_DEPENDS_ON_UNREFERENCED_MASKS = 1L << 19,
    PF_OutFlag2_OUTPUT_IS_WATERMARKED = 1L << 20,
    PF_OutFlag2_I_MIX_GUID_DEPENDENCIES = 1L << 21,
    PF_OutFlag2_AE13_5_THREADSAFE = 1L << 22,
    PF_OutFlag2_SUPPORTS_GET_FLATTENED_SEQUENCE_DATA = 1L << 23,
    PF_OutFlag2_CUSTOM_UI_ASYNC_MANAGER = 1L << 24,
    PF_OutFlag2_SUPPORTS_GPU_RENDER_F32 = 1L << 25,
    PF_OutFlag2_RESERVED12 = 1L << 26,
    PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1L << 27,
    PF_OutFlag2_MUTABLE_RENDER_SEQUENCE_DATA_SLOWER = 1L << 28
};
typedef A_long PF_OutFlags2;

enum { PF_InFlag_NONE = 0L, PF_InFlag_PROJECT_IS_RENDER_ONLY = 1L << 0 };
typedef A_long PF_InFlags;

enum { PF_Quality_DRAWING_AUDIO = -1, PF_Quality_LO = 0, PF_Quality_HI };
typedef A_long PF_Quality;

enum { PF_MF_Alpha_PREMUL = 0, PF_MF_Alpha_STRAIGHT = 1L << 0 };
typedef A_long PF_ModeFlags;

enum { PF_Field_FRAME = 0L, PF_Field_UPPER, PF_Field_LOWER };
typedef A_long PF_Field;

// ---------------------------------------------------------------------------
// Parameter kinds and flags
// ---------------------------------------------------------------------------

enum {
    PF_Param_RESERVED = -1,
    PF_Param_LAYER = 0,
    PF_Param_SLIDER,
    PF_Param_FIX_SLIDER,
    PF_Param_ANGLE,
    PF_Param_CHECKBOX,
    PF_Param_COLOR,
    PF_Param_POINT,
    PF_Param_POPUP,
    PF_Param_CUSTOM,
    PF_Param_NO_DATA,
    PF_Param_FLOAT_SLIDER,
    PF_Param_ARBITRARY_DATA,
    PF_Param_PATH,
    PF_Param_GROUP_START,
    PF_Param_GROUP_END,
    PF_Param_BUTTON, // needs PF_ParamFlag_SUPERVISE to be heard
    PF_Param_RESERVED2,
    PF_Param_RESERVED3,
    PF_Param_POINT_3D
};
typedef A_long PF_ParamType;

enum {
    PF_ParamFlag_RESERVED1 = 1L << 0,
    PF_ParamFlag_CANNOT_TIME_VARY = 1L << 1,
    PF_ParamFlag_CANNOT_INTERP = 1L << 2,
    PF_ParamFlag_RESERVED2 = 1L << 3,
    PF_ParamFlag_RESERVED3 = 1L << 4,
    PF_ParamFlag_COLLAPSE_TWIRLY = 1L << 5,
    PF_ParamFlag_SUPERVISE = 1L << 6,
    PF_ParamFlag_START_COLLAPSED = PF_ParamFlag_COLLAPSE_TWIRLY,
    PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS = 1L << 7,
    PF_ParamFlag_LAYER_PARAM_IS_TRACKMATTE = 1L << 7,
    PF_ParamFlag_EXCLUDE_FROM_HAVE_INPUTS_CHANGED = 1L << 8,
    PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 1L << 9 // parameter setup only
};
typedef A_long PF_ParamFlags;

enum {
    PF_PUI_NONE = 0L,
    PF_PUI_TOPIC = 1L << 0,
    PF_PUI_CONTROL = 1L << 1,
    PF_PUI_STD_CONTROL_ONLY = 1L << 2,
    PF_PUI_NO_ECW_UI = 1L << 3,
    PF_PUI_ECW_SEPARATOR = 1L << 4,
    PF_PUI_DISABLED = 1L << 5,
    PF_PUI_DONT_ERASE_TOPIC = 1L << 6,
    PF_PUI_DONT_ERASE_CONTROL = 1L << 7,
    PF_PUI_RADIO_BUTTON = 1L << 8,
    PF_PUI_INVISIBLE = 1L << 9
};
typedef A_long PF_ParamUIFlags;

enum {
    PF_ChangeFlag_NONE = 0L,
    PF_ChangeFlag_CHANGED_VALUE = 1L << 0,
    PF_ChangeFlag_RESERVED = 1L << 1,
    PF_ChangeFlag_SET_TO_VARY = 1L << 2,
    PF_ChangeFlag_SET_TO_CONSTANT = 1L << 3
};
typedef A_long PF_ChangeFlags;

enum {
    PF_ValueDisplayFlag_NONE = 0,
    PF_ValueDisplayFlag_PERCENT = 1 << 0,
    PF_ValueDisplayFlag_PIXEL = 1 << 1,
    PF_ValueDisplayFlag_RESERVED1 = 1 << 2,
    PF_ValueDisplayFlag_REVERSE = 1 << 3
};
typedef A_short PF_ValueDisplayFlags;

enum { PF_FSliderFlag_NONE = 0, PF_FSliderFlag_WANT_PHASE = 1L << 0 };
typedef A_u_long PF_FSliderFlags;

// ---------------------------------------------------------------------------
// Worlds and pixels
// ---------------------------------------------------------------------------

enum { PF_WorldFlag_DEEP = 1L << 0, PF_WorldFlag_WRITEABLE = 1L << 1 };
typedef A_long PF_WorldFlags;

#define PF_WORLD_IS_DEEP(W) (((W)->world_flags & PF_WorldFlag_DEEP) != 0)

enum {
    PF_ChannelMask_ALPHA = 0x1,
    PF_ChannelMask_RED = 0x2,
    PF_ChannelMask_GREEN = 0x4,
    PF_ChannelMask_BLUE = 0x8,
    PF_ChannelMask_ARGB = 0xF
};
typedef A_long PF_ChannelMask;

enum {
    PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS = 0x1,
    PF_RenderOutputFlag_GPU_RENDER_POSSIBLE = 0x2,
    PF_RenderOutputFlag_RESERVED1 = 0x4
};
typedef short PF_RenderOutputFlags;

enum {
    PF_GPU_Framework_NONE = 0,
    PF_GPU_Framework_OPENCL,
    PF_GPU_Framework_METAL,
    PF_GPU_Framework_CUDA
};
typedef A_long PF_GPU_Framework;

enum { PF_LayerDefault_MYSELF = -1, PF_LayerDefault_NONE = 0 };
typedef A_long PF_LayerDefault;

typedef struct {
    A_short major;
    A_short minor;
} PF_SpecVersion;

typedef struct {
#ifdef LPOINT_RENAME_COMPONENTS
    A_long x, y;
#else
    A_long h, v;
#endif
} PF_Point;

typedef struct {
    A_long left, top, right, bottom;
} PF_LRect;

typedef PF_LRect PF_Rect;
typedef PF_Rect PF_UnionableRect;

typedef struct {
    A_long num;
    A_u_long den;
} PF_RationalScale;

// Channels in memory order alpha, red, green, blue.
typedef struct {
    A_u_char alpha, red, green, blue;
} PF_Pixel;

typedef PF_Pixel PF_Pixel8;
typedef PF_Pixel PF_UnionablePixel;

// 16-bit channels run 0..32768 (PF_MAX_CHAN16), not 0..65535.
typedef struct {
#ifdef PF_PIXEL16_RENAME_COMPONENTS
    A_u_short alphaSu, redSu, greenSu, blueSu;
#else
    A_u_short alpha, red, green, blue;
#endif
} PF_Pixel16;

typedef struct {
    PF_FpShort alpha, red, green, blue;
} PF_PixelFloat, PF_Pixel32;

#ifdef PF_DEEP_COLOR_AWARE
typedef struct PF_PixelOpaque* PF_PixelOpaquePtr;
typedef PF_PixelOpaquePtr PF_PixelPtr;
#else
typedef PF_Pixel* PF_PixelPtr;
#endif

// A pixel buffer: `height` rows of `width` pixels, each row `rowbytes` bytes
// apart (rowbytes may exceed width × pixel size). Also the layer parameter's
// record.
typedef struct PF_LayerDef {
    void* reserved0;
    void* reserved1;
    PF_WorldFlags world_flags;
    PF_PixelPtr data;
    A_long rowbytes;
    A_long width;
    A_long height;
    PF_UnionableRect extent_hint;
    void* platform_ref; // unused
    A_long reserved_long1;
    void* reserved_long4;
    PF_RationalScale pix_aspect_ratio;
    void* reserved_long2;
    A_long origin_x;
    A_long origin_y;
    A_long reserved_long3;
    A_long dephault; // a PF_LayerDefault when used as a parameter
} PF_LayerDef;

typedef PF_LayerDef PF_EffectWorld;

typedef struct {
    PF_ParamIndex param_index;
} PF_UserChangedParamExtra;

typedef struct {
    PF_FpLong rateF;
    A_short num_channels;
    A_short format;
    A_short sample_size;
} PF_SoundFormatInfo;

typedef struct {
    PF_SoundFormatInfo fi;
    A_long num_samples;
    void* dataP;
} PF_SoundWorld;

// ---------------------------------------------------------------------------
// Parameter definitions
// ---------------------------------------------------------------------------

typedef struct {
    PF_FpLong value;
    PF_FpLong phase;
    A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
    PF_FpShort valid_min;
    PF_FpShort valid_max;
    PF_FpShort slider_min;
    PF_FpShort slider_max;
    PF_FpShort dephault;
    A_short precision;
    PF_ValueDisplayFlags display_flags;
    PF_FSliderFlags fs_flags;
    PF_FpShort curve_tolerance;
    PF_Boolean useExponent;
    PF_FpShort exponent;
} PF_FloatSliderDef;

typedef struct {
    PF_ParamValue value;
    PF_Boolean dephault;
    A_char reserved;
    A_short reserved1;
    union {
        const A_char* nameptr; // text beside the box
    } u;
} PF_CheckBoxDef;

typedef struct {
    PF_ParamValue value; // 1-based
    A_short num_choices;
    A_short dephault;
    union {
        const A_char* namesptr; // choices separated by '|'
    } u;
} PF_PopupDef;

typedef struct {
    PF_ParamValue value; // unused
    union {
        const A_char* namesptr; // the button's label
    } u;
} PF_ButtonDef;

// Parameter kinds this project never registers. Their contents are not used
// here; each is a placeholder that keeps the union's member list complete.
typedef struct { A_long stand_in_reserved[4]; } PF_SliderDef;
typedef struct { A_long stand_in_reserved[4]; } PF_FixedSliderDef;
typedef struct { A_long stand_in_reserved[4]; } PF_AngleDef;
typedef struct { A_long stand_in_reserved[4]; } PF_ColorDef;
typedef struct { A_long stand_in_reserved[4]; } PF_PointDef;
typedef struct { A_long stand_in_reserved[4]; } PF_ArbitraryDef;
typedef struct { A_long stand_in_reserved[4]; } PF_PathDef;
typedef struct { A_long stand_in_reserved[4]; } PF_Point3DDef;

typedef union {
    PF_LayerDef ld;
    PF_SliderDef sd;
    PF_FixedSliderDef fd;
    PF_AngleDef ad;
    PF_CheckBoxDef bd;
    PF_ColorDef cd;
    PF_PointDef td;
    PF_PopupDef pd;
    PF_FloatSliderDef fs_d;
    PF_ArbitraryDef arb_d;
    PF_PathDef path_d;
    PF_ButtonDef button_d;
    PF_Point3DDef point3d_d;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
    union {
        A_long id;                   // disk id, at parameter setup
        PF_ChangeFlags change_flags; // when the effect changes a value
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
    PF_ParamFlags flags;
    A_long unused;
    PF_ParamDefUnion u;
} PF_ParamDef, *PF_ParamDefPtr, **PF_ParamDefH;

typedef PF_ParamDef** PF_ParamList;

#define PF_ParamDef_IS_PUI_FLAG_SET(_defP, _puiFlag) (((_defP)->ui_flags & (_puiFlag)) != 0)
#define PF_ParamDef_IS_PARAM_FLAG_SET(_defP, _paramFlag) (((_defP)->flags & (_paramFlag)) != 0)

// ---------------------------------------------------------------------------
// Smart rendering
// ---------------------------------------------------------------------------

typedef struct {
    PF_LRect rect;
    PF_Field field;
    PF_ChannelMask channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    char unused[3];
    A_long reserved[4];
} PF_RenderRequest;

typedef struct {
    PF_RenderRequest output_request;
    short bitdepth; // bits per channel
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_PreRenderInput;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_Boolean solid;
    PF_Boolean reserved;
    PF_RenderOutputFlags flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    PF_Boolean solid;
    PF_Boolean reservedB[3];
    A_long ref_width;
    A_long ref_height;
    A_long reserved[6];
} PF_CheckoutResult;

typedef struct {
    // index 0 is the effect's input layer; checkout_idL is chosen by the
    // effect (>= 0, unique within the frame) and names the layer at render.
    PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_idL,
                             const PF_RenderRequest* req, A_long what_time, A_long time_step,
                             A_u_long time_scale, PF_CheckoutResult* checkout_result);
    PF_Err (*GuidMixInPtr)(PF_ProgPtr effect_ref, A_u_long buf_sizeLu, const void* buf);
} PF_PreRenderCallbacks;

typedef struct {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
    PF_RenderRequest output_request;
    short bitdepth;
    void* pre_render_data;
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_SmartRenderInput;

typedef struct {
    PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL,
                                    PF_EffectWorld** pixels);
    PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL);
    PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
} PF_SmartRenderCallbacks;

typedef struct {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

// ---------------------------------------------------------------------------
// Interaction callbacks (PF_InData.inter)
// ---------------------------------------------------------------------------

typedef struct _PF_LayerAudio* PF_LayerAudio;
typedef void* PF_SndSamplePtr;
typedef struct _PF_CustomUIInfo PF_CustomUIInfo;

typedef struct {
    PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                             A_long time_step, A_u_long time_scale, PF_ParamDef* param);
    PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index /* -1: append */,
                        PF_ParamDefPtr def);
    // Non-zero means stop: return it from the command.
    PF_Err (*abort)(PF_ProgPtr effect_ref);
    PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
    PF_Err (*register_ui)(PF_ProgPtr effect_ref, PF_CustomUIInfo* cust_info);
    PF_Err (*checkout_layer_audio)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long start_time,
                                   A_long duration, A_u_long time_scale, PF_UFixed rate,
                                   A_long bytes_per_sample, A_long num_channels,
                                   A_long fmt_signed, PF_LayerAudio* audio);
    PF_Err (*checkin_layer_audio)(PF_ProgPtr effect_ref, PF_LayerAudio audio);
    PF_Err (*get_audio_data)(PF_ProgPtr effect_ref, PF_LayerAudio audio, PF_SndSamplePtr* data0,
                             A_long* num_samples0, PF_UFixed* rate0, A_long* bytes_per_sample0,
                             A_long* num_channels0, A_long* fmt_signed0);
    void* reserved_str[3];
    void* reserved[10];
} PF_InteractCallbacks;

#define PF_CHECKOUT_PARAM(IN_DATA, INDEX, TIME, STEP, SCALE, PARAM)                                \
    ((IN_DATA)->inter.checkout_param((IN_DATA)->effect_ref, (INDEX), (TIME), (STEP), (SCALE),     \
                                     (PARAM)))
#define PF_CHECKIN_PARAM(IN_DATA, PARAM) ((IN_DATA)->inter.checkin_param((IN_DATA)->effect_ref, (PARAM)))
#define PF_ADD_PARAM(IN_DATA, INDEX, DEF) ((IN_DATA)->inter.add_param((IN_DATA)->effect_ref, (INDEX), (DEF)))
#define PF_ABORT(IN_DATA) ((IN_DATA)->inter.abort((IN_DATA)->effect_ref))
#define PF_PROGRESS(IN_DATA, CURRENT, TOTAL)                                                       \
    ((IN_DATA)->inter.progress((IN_DATA)->effect_ref, (CURRENT), (TOTAL)))

// ---------------------------------------------------------------------------
// The records of every call
// ---------------------------------------------------------------------------

struct _PF_UtilCallbacks;
struct SPBasicSuite;

typedef struct PF_InData {
    PF_InteractCallbacks inter;
    struct _PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    PF_Quality quality;
    PF_SpecVersion version; // effect API version of the host
    A_long serial_num;
    A_long appl_id; // 'FXTC' or 'PrMr'
    A_long num_params;
    A_long reserved;
    A_long what_cpu;
    A_long what_fpu;
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    PF_Field field;
    PF_Fixed shutter_angle;
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    A_long output_origin_x;
    A_long output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    PF_InFlags in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data; // null during render for threaded renderers
    PF_Handle frame_data;
    A_long start_sampL;
    A_long dur_sampL;
    A_long total_sampL;
    PF_SoundWorld src_snd;
    struct SPBasicSuite* pica_basicP;
    A_long pre_effect_source_origin_x;
    A_long pre_effect_source_origin_y;
    PF_Fixed shutter_phase;
} PF_InData;

typedef struct {
    A_u_long my_version; // a PF_VERSION word
    A_char name[PF_MAX_EFFECT_NAME_LEN + 1];
    PF_Handle global_data;
    A_long num_params; // includes the input layer
    PF_Handle sequence_data;
    A_long flat_sdata_size; // obsolete
    PF_Handle frame_data;
    A_long width;
    A_long height;
    PF_Point origin;
    PF_OutFlags out_flags;
    A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
    A_long start_sampL;
    A_long dur_sampL;
    PF_SoundWorld dest_snd;
    PF_OutFlags2 out_flags2;
} PF_OutData;

typedef PF_Err (*PF_FilterProc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                PF_ParamList params, PF_LayerDef* output, void* extra);

#pragma pack(pop)

#ifdef __cplusplus
}
#endif
