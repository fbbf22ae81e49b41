// Utility callbacks the host hands every call in PF_InData.utils: handle
// memory, pixel iteration, the C library stand-ins (ANSI callbacks), and the
// macros that call them through a local `in_data`.
#pragma once

#include "AE_Effect.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 8)

#define AEFX_MAX_PATH 260

typedef A_u_long PF_KernelFlags;
typedef A_long PF_TransferMode;
typedef PF_TransferMode PF_XferMode;
typedef A_long PF_NewWorldFlags;
typedef A_long PF_CallbackID;
typedef struct PF_CallbackFuncOpaque* PF_CallbackFunc;
typedef A_long PF_PlatDataID;
typedef A_long PF_MaskFlags;

enum { PF_NewWorldFlag_NONE = 0, PF_NewWorldFlag_CLEAR_PIXELS = 1L << 0, PF_NewWorldFlag_DEEP_PIXELS = 1L << 1 };

// Sampling and compositing records: only named here, never filled by this project.
typedef struct PF_SampPB PF_SampPB;

typedef struct {
    PF_EffectWorld mask;
    PF_Point offset;
    PF_MaskFlags what_is_mask;
} PF_MaskWorld;

typedef struct {
    PF_TransferMode xfer;
    A_long rand_seed;
    A_u_char opacity;
    PF_Boolean rgb_only;
    A_u_short opacitySu;
} PF_CompositeMode;

typedef struct {
    PF_FpLong mat[3][3];
} PF_FloatMatrix;

// Pixel functions of the iterate callbacks and suites. The host may call one
// from several threads at once for different pixels; inP is writable only
// when the world is marked writeable.
typedef PF_Err (*PF_IteratePixel8Func)(void* refconP, A_long xL, A_long yL, PF_Pixel* inP,
                                       PF_Pixel* outP);
typedef PF_Err (*PF_IteratePixel16Func)(void* refconP, A_long xL, A_long yL, PF_Pixel16* inP,
                                        PF_Pixel16* outP);
typedef PF_Err (*PF_IteratePixelFloatFunc)(void* refconP, A_long xL, A_long yL,
                                           PF_PixelFloat* inP, PF_PixelFloat* outP);

typedef struct {
    A_FpLong (*atan)(A_FpLong);
    A_FpLong (*atan2)(A_FpLong y, A_FpLong x);
    A_FpLong (*ceil)(A_FpLong);
    A_FpLong (*cos)(A_FpLong);
    A_FpLong (*exp)(A_FpLong);
    A_FpLong (*fabs)(A_FpLong);
    A_FpLong (*floor)(A_FpLong);
    A_FpLong (*fmod)(A_FpLong x, A_FpLong y);
    A_FpLong (*hypot)(A_FpLong x, A_FpLong y);
    A_FpLong (*log)(A_FpLong);
    A_FpLong (*log10)(A_FpLong);
    A_FpLong (*pow)(A_FpLong x, A_FpLong y);
    A_FpLong (*sin)(A_FpLong);
    A_FpLong (*sqrt)(A_FpLong);
    A_FpLong (*tan)(A_FpLong);
    int (*sprintf)(A_char*, const A_char*, ...);
    A_char* (*strcpy)(A_char*, const A_char*);
    A_FpLong (*asin)(A_FpLong);
    A_FpLong (*acos)(A_FpLong);
    A_long ansi_procs[1];
} PF_ANSICallbacks;

// Colour conversions: not used by this project; the slots keep the layout.
typedef struct {
    AE_StandInUnusedProc RGBtoHLS;
    AE_StandInUnusedProc HLStoRGB;
    AE_StandInUnusedProc RGBtoYIQ;
    AE_StandInUnusedProc YIQtoRGB;
    AE_StandInUnusedProc Luminance;
    AE_StandInUnusedProc Hue;
    AE_StandInUnusedProc Lightness;
    AE_StandInUnusedProc Saturation;
} PF_ColorCallbacks;

typedef struct _PF_UtilCallbacks {
    PF_Err (*begin_sampling)(PF_ProgPtr effect_ref, PF_Quality qual, PF_ModeFlags mf,
                             PF_SampPB* params);
    PF_Err (*subpixel_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                              const PF_SampPB* params, PF_Pixel* dst_pixel);
    PF_Err (*area_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                          PF_Pixel* dst_pixel);
    void* get_batch_func_is_deprecated;
    PF_Err (*end_sampling)(PF_ProgPtr effect_ref, PF_Quality qual, PF_ModeFlags mf,
                           PF_SampPB* params);
    PF_Err (*composite_rect)(PF_ProgPtr effect_ref, PF_Rect* src_rect, A_long src_opacity,
                             PF_EffectWorld* source_wld, A_long dest_x, A_long dest_y,
                             PF_Field field_rdr, PF_XferMode xfer_mode, PF_EffectWorld* dest_wld);
    PF_Err (*blend)(PF_ProgPtr effect_ref, const PF_EffectWorld* src1, const PF_EffectWorld* src2,
                    PF_Fixed ratio, PF_EffectWorld* dst);
    PF_Err (*convolve)(PF_ProgPtr effect_ref, PF_EffectWorld* src, const PF_Rect* area,
                       PF_KernelFlags flags, A_long kernel_size, void* a_kernel, void* r_kernel,
                       void* g_kernel, void* b_kernel, PF_EffectWorld* dst);
    PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                   PF_Rect* dst_r);
    PF_Err (*fill)(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect,
                   PF_EffectWorld* world);
    PF_Err (*gaussian_kernel)(PF_ProgPtr effect_ref, A_FpLong kRadius, PF_KernelFlags flags,
                              A_FpLong multiplier, A_long* diameter, void* kernel);
    PF_Err (*iterate)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                      PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    PF_Err (*premultiply)(PF_ProgPtr effect_ref, A_long forward, PF_EffectWorld* dst);
    PF_Err (*premultiply_color)(PF_ProgPtr effect_ref, PF_EffectWorld* src, const PF_Pixel* color,
                                A_long forward, PF_EffectWorld* dst);
    PF_Err (*new_world)(PF_ProgPtr effect_ref, A_long width, A_long height, PF_NewWorldFlags flags,
                        PF_EffectWorld* world);
    PF_Err (*dispose_world)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
    PF_Err (*iterate_origin)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                             void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    PF_Err (*iterate_lut)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                          PF_EffectWorld* src, const PF_Rect* area, A_u_char* a_lut0,
                          A_u_char* r_lut0, A_u_char* g_lut0, A_u_char* b_lut0,
                          PF_EffectWorld* dst);
    PF_Err (*transfer_rect)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags m_flags,
                            PF_Field field, const PF_Rect* src_rec, const PF_EffectWorld* src_world,
                            const PF_CompositeMode* comp_mode, const PF_MaskWorld* mask_world0,
                            A_long dest_x, A_long dest_y, PF_EffectWorld* dst_world);
    PF_Err (*transform_world)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags m_flags,
                              PF_Field field, const PF_EffectWorld* src_world,
                              const PF_CompositeMode* comp_mode, const PF_MaskWorld* mask_world0,
                              const PF_FloatMatrix* matrices, A_long num_matrices,
                              PF_Boolean src2dst_matrix, const PF_Rect* dest_rect,
                              PF_EffectWorld* dst_world);
    PF_Handle (*host_new_handle)(A_u_longlong size);
    void* (*host_lock_handle)(PF_Handle pf_handle);
    void (*host_unlock_handle)(PF_Handle pf_handle);
    void (*host_dispose_handle)(PF_Handle pf_handle);
    PF_Err (*get_callback_addr)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags mode_flags,
                                PF_CallbackID which_callback, PF_CallbackFunc* fn_ptr);
    PF_Err (*app)(PF_ProgPtr, A_long, ...);
    PF_ANSICallbacks ansi;
    PF_ColorCallbacks colorCB;
    PF_Err (*get_platform_data)(PF_ProgPtr effect_ref, PF_PlatDataID which, void* data);
    A_u_longlong (*host_get_handle_size)(PF_Handle pf_handle);
    PF_Err (*iterate_origin_non_clip_src)(PF_InData* in_data, A_long progress_base,
                                          A_long progress_final, PF_EffectWorld* src,
                                          const PF_Rect* area, const PF_Point* origin, void* refcon,
                                          PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    PF_Err (*iterate_generic)(A_long iterationsL, void* refconPV,
                              PF_Err (*fn_func)(void* refconPV, A_long thread_indexL, A_long i,
                                                A_long iterationsL));
    PF_Err (*host_resize_handle)(A_u_longlong new_sizeL, PF_Handle* handlePH);
    PF_Err (*subpixel_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                const PF_SampPB* params, PF_Pixel16* dst_pixel);
    PF_Err (*area_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                            PF_Pixel16* dst_pixel);
    PF_Err (*fill16)(PF_ProgPtr effect_ref, const PF_Pixel16* color, const PF_Rect* dst_rect,
                     PF_EffectWorld* world);
    PF_Err (*premultiply_color16)(PF_ProgPtr effect_ref, PF_EffectWorld* src,
                                  const PF_Pixel16* color, A_long forward, PF_EffectWorld* dst);
    PF_Err (*iterate16)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                        PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                        PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
    PF_Err (*iterate_origin16)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                               PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                               void* refcon, PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
    PF_Err (*iterate_origin_non_clip_src16)(PF_InData* in_data, A_long progress_base,
                                            A_long progress_final, PF_EffectWorld* src,
                                            const PF_Rect* area, const PF_Point* origin,
                                            void* refcon, PF_IteratePixel16Func pix_fn,
                                            PF_EffectWorld* dst);
    // Pixel address in a world (the first pixel for a null pixelsP0); the
    // output is null when the world's depth does not match.
    PF_Err (*get_pixel_data8)(PF_EffectWorld* worldP, PF_PixelPtr pixelsP0, PF_Pixel8** pixPP);
    PF_Err (*get_pixel_data16)(PF_EffectWorld* worldP, PF_PixelPtr pixelsP0, PF_Pixel16** pixPP);
    A_long reserved[1];
} PF_UtilCallbacks;

// The macros below use the `in_data` of the calling scope.
#define PF_NEW_HANDLE(SIZE) (*in_data->utils->host_new_handle)((SIZE))
#define PF_LOCK_HANDLE(PF_HANDLE) (*in_data->utils->host_lock_handle)((PF_Handle)(PF_HANDLE))
#define PF_UNLOCK_HANDLE(PF_HANDLE) (*in_data->utils->host_unlock_handle)((PF_Handle)(PF_HANDLE))
#define PF_DISPOSE_HANDLE(PF_HANDLE) (*in_data->utils->host_dispose_handle)((PF_Handle)(PF_HANDLE))
#define PF_GET_HANDLE_SIZE(PF_HANDLE) (*in_data->utils->host_get_handle_size)((PF_Handle)(PF_HANDLE))
#define PF_RESIZE_HANDLE(NEW_SIZE, HANDLE_P)                                                       \
    (*in_data->utils->host_resize_handle)((NEW_SIZE), (PF_Handle*)(HANDLE_P))
#define PF_ITERATE(PROG_BASE, PROG_FINAL, SRC, RECT, REFCON, FN, DST)                              \
    (*in_data->utils->iterate)(in_data, (PROG_BASE), (PROG_FINAL), (SRC), (RECT), (REFCON), (FN),  \
                               (DST))
#define PF_ITERATE16(PROG_BASE, PROG_FINAL, SRC, RECT, REFCON, FN, DST)                            \
    (*in_data->utils->iterate16)(in_data, (PROG_BASE), (PROG_FINAL), (SRC), (RECT), (REFCON),     \
                                 (FN), (DST))
#define PF_SPRINTF (*in_data->utils->ansi.sprintf)
#define PF_STRCPY(DST, SRC) (*in_data->utils->ansi.strcpy)((DST), (SRC))
#define PF_GET_PIXEL_DATA8(WORLDP, PIXELPTR0, PIXEL8PP)                                            \
    (*in_data->utils->get_pixel_data8)((WORLDP), (PIXELPTR0), (PIXEL8PP))
#define PF_GET_PIXEL_DATA16(WORLDP, PIXELPTR0, PIXEL16PP)                                          \
    (*in_data->utils->get_pixel_data16)((WORLDP), (PIXELPTR0), (PIXEL16PP))
#define PF_GET_PLATFORM_DATA(PF_PLAT_DATA_ID, DATA)                                                \
    (*in_data->utils->get_platform_data)(in_data->effect_ref, (PF_PLAT_DATA_ID), (DATA))

#pragma pack(pop)

#ifdef __cplusplus
}
#endif
