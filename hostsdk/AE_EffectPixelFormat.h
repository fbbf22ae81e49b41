// Pixel formats of effect worlds, as four-character codes.
#pragma once

#include "A.h"

// Builds a code byte by byte so that it reads as text in little-endian memory.
#define MAKE_PIXEL_FORMAT_FOURCC(CH0, CH1, CH2, CH3)                                               \
    ((A_long)(((A_u_long)(A_u_char)(CH0)) | (((A_u_long)(A_u_char)(CH1)) << 8) |                  \
              (((A_u_long)(A_u_char)(CH2)) << 16) | (((A_u_long)(A_u_char)(CH3)) << 24)))

enum {
    PF_PixelFormat_ARGB32 = MAKE_PIXEL_FORMAT_FOURCC('a', 'r', 'g', 'b'),  // 8 bits per channel
    PF_PixelFormat_ARGB64 = MAKE_PIXEL_FORMAT_FOURCC('a', 'e', '1', '6'),  // 16 bits per channel
    PF_PixelFormat_ARGB128 = MAKE_PIXEL_FORMAT_FOURCC('a', 'e', '3', '2'), // float per channel
};
typedef A_long PF_PixelFormat;
