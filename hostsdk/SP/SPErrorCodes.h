// Error codes of the basic suite layer. Non-zero codes are four-character
// literals.
#pragma once

#include "SPTypes.h"

#define kSPNoError ((SPErr)0)
#define kSPUnimplementedError ((SPErr)'!IMP')
#define kSPBadParameterError ((SPErr)'Parm')
