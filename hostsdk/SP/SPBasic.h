// The basic suite: the host's one entry to every other suite. A plug-in asks
// for a suite by name and version and gives it back with the same pair.
#pragma once

#include "SPErrorCodes.h"
#include "SPTypes.h"

#pragma pack(push, 8)

#define kSPBasicSuite "SP Basic Suite"
#define kSPBasicSuiteVersion 4

typedef struct SPBasicSuite {
    // Fills *suite with the suite's function table; non-zero when the host
    // does not have that name at that version.
    SPErr(SPAPI* AcquireSuite)(const char* name, int32 version, const void** suite);
    // Gives back one acquisition of name/version.
    SPErr(SPAPI* ReleaseSuite)(const char* name, int32 version);
    SPBoolean(SPAPI* IsEqual)(const char* token1, const char* token2);
    SPErr(SPAPI* AllocateBlock)(size_t size, void** block);
    SPErr(SPAPI* FreeBlock)(void* block);
    SPErr(SPAPI* ReallocateBlock)(void* block, size_t newSize, void** newblock);
    SPErr(SPAPI* Undefined)(void);
} SPBasicSuite;

#pragma pack(pop)
