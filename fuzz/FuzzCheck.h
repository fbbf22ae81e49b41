// Invariant checks inside the fuzz targets. A broken invariant prints what
// failed and where, then aborts: libFuzzer records the input as a crash and
// the replay runner fails its test.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                              \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s (%s)\n", __FILE__, __LINE__,      \
                         #condition, what);                                                      \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

// For the targets' own per-sample loops (filling and checking whole images):
// coverage feedback from them is noise and costs most of each run.
#if defined(__clang__)
#define FUZZ_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_NO_COVERAGE
#endif
