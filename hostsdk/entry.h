// Export marker for the effect's entry points.
#pragma once

#if defined(_WIN32)
#define DllExport __declspec(dllexport)
#else
// macOS and Linux: exported with default visibility even under -fvisibility=hidden.
#define DllExport __attribute__((visibility("default")))
#endif
