// Scalar types of the plug-in suite architecture (the basic suite's world).
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef int8_t int8;
typedef uint8_t uint8;
typedef int16_t int16;
typedef uint16_t uint16;
typedef int32_t int32;
typedef uint32_t uint32;

// Suite-layer error: 0 is success, anything else a four-character code.
typedef int32 SPErr;

#if defined(_WIN32)
typedef int32 SPBoolean;
#else
typedef uint8 SPBoolean;
#endif

// Calling-convention marker of suite functions; empty under GCC and Clang.
#ifndef SPAPI
#define SPAPI
#endif
