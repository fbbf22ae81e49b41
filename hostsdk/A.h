// Basic scalar types, time and rectangle records, and the generic error codes
// shared by the effect and AEGP interfaces.
#pragma once

#include <stdint.h>

#pragma pack(push, 8)

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_u_char;
typedef uint8_t A_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef A_long A_Err;
typedef void* A_Handle;
typedef uint64_t A_u_longlong;
typedef A_u_longlong A_HandleSize;
typedef intptr_t A_intptr_t;
typedef A_u_short A_UTF16Char;

typedef struct {
    A_long value;
    A_u_long scale;
} A_Time;

typedef struct {
    A_long num;
    A_u_long den;
} A_Ratio;

typedef struct {
    A_long left, top, right, bottom;
} A_LRect;

typedef A_LRect A_Rect;

typedef struct {
    A_FpLong mat[4][4];
} A_Matrix4;

// Host memory handed out by AEGP calls (freed through the host's memory suite).
typedef struct _Up_OpaqueMem** AEGP_MemHandle;

enum {
    A_Err_NONE = 0,
    A_Err_GENERIC = 1,
    A_Err_STRUCT = 2,
    A_Err_PARAMETER = 3,
    A_Err_ALLOC = 4,
    A_Err_WRONG_THREAD = 5,
    A_Err_CONST_PROJECT_MODIFICATION = 6,
    A_Err_MISSING_SUITE = 13,
    A_Err_NOT_IN_CACHE_OR_COMPUTE_PENDING = 22,
    A_Err_PROJECT_LOAD_FATAL = 23,
    A_Err_EFFECT_APPLY_FATAL = 24,
    A_Err_LAST = 25
};

// Slot type for suite members this project never calls: the member keeps its
// place in the table; a host fills it with a function that reports the call.
typedef A_long (*AE_StandInUnusedProc)(void);

// Throws the error code as an A_long (C++ only).
#define A_THROW(ERR) throw((A_long)(ERR))

#pragma pack(pop)
