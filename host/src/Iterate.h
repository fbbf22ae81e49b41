// Multi-threaded pixel iteration behind the iterate callbacks and suites.
#pragma once

#include "AE_EffectCB.h"

namespace TEV::Host {

// Calls pix_fn once for every pixel of `area` (null: all of dst), on the
// host's iterate threads and the calling thread. Progress runs from
// progress_base to progress_base + rows out of progress_final (0: none); the
// abort callback is asked between rows and its code ends the walk; the first
// non-zero result of pix_fn ends it too and is returned; an exception thrown
// by pix_fn is re-thrown on the calling thread once every thread has stopped.
// A world whose depth does not match the suite gives PF_Err_BAD_CALLBACK_PARAM.
PF_Err iterate8(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
PF_Err iterate16(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                 const PF_Rect* area, void* refcon, PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
PF_Err iterateFloat(PF_InData* in_data, A_long progress_base, A_long progress_final,
                    PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                    PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst);
// Calls fn_func(refcon, thread_index, i, iterations) for i in 0..iterations-1.
PF_Err iterateGeneric(A_long iterationsL, void* refconPV,
                      PF_Err (*fn_func)(void* refconPV, A_long thread_indexL, A_long i, A_long iterationsL));

}  // namespace TEV::Host
