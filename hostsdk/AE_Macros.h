// Small helpers shared by effect sources: clearing records, chaining error
// codes, fixed-point and channel conversions.
#pragma once

#include <string.h>

#include "AE_Effect.h"

// Zero-fills the object S. The expansion carries its own semicolon.
#define AEFX_CLR_STRUCT(S) memset(&(S), 0, sizeof(S));

// Runs FUNC only while the local `err` is still zero and keeps its result.
#define ERR(FUNC)                                                                                  \
    do {                                                                                           \
        if (!err) {                                                                                \
            err = (FUNC);                                                                          \
        }                                                                                          \
    } while (0)

// Always runs FUNC into the local `err2`; copies it to `err` if that was zero.
#define ERR2(FUNC)                                                                                 \
    do {                                                                                           \
        if (((err2 = (FUNC)) != 0) && !err) {                                                      \
            err = err2;                                                                            \
        }                                                                                          \
    } while (0)

#define DH(h) (*(h))

#define A_Fixed_ONE ((PF_Fixed)0x00010000L)
#define A_Fixed_HALF ((PF_Fixed)0x00008000L)

#define INT2FIX(F) ((PF_Fixed)(F) << 16)
#define FIX2INT(F) ((A_long)(F) >> 16)
#define FIX2INT_ROUND(F) (FIX2INT((F) + A_Fixed_HALF))
#define FIX_2_FLOAT(X) ((A_FpLong)(X) / 65536.0)
#define FLOAT2FIX(F) ((PF_Fixed)((F) * 65536.0 + (((F) < 0) ? -0.5 : 0.5)))
#define RATIO2FLOAT(R) ((A_FpLong)(R).num / (A_FpLong)(R).den)

// Scales an 8-bit channel to the 0..32768 range of 16-bit worlds, rounding.
#define CONVERT8TO16(A) ((((A_long)(A) * PF_MAX_CHAN16) + PF_HALF_CHAN8) / PF_MAX_CHAN8)

#ifndef ABS
#define ABS(N) ((N) < 0 ? -(N) : (N))
#endif
#ifndef MIN
#define MIN(A, B) ((A) < (B) ? (A) : (B))
#endif
#ifndef MAX
#define MAX(A, B) ((A) > (B) ? (A) : (B))
#endif
