// The timing shim: a module that the headless host loads in place of the
// effect. It loads ExamplePlugin by its build path, forwards every command to
// its EffectMain, and clocks the two frame commands (smart pre-render and
// smart render) on the calling thread, so that the benchmark times the
// plug-in's own work and not the host's (such as the host allocating and
// clearing the output world of every frame). Beside the wall time it takes
// the process's CPU time over the same commands: with one render thread that
// is the plug-in's work on it and on the host's iterate threads.
#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "AE_Effect.h"

namespace {

using EntryFn = PF_Err (*)(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*);

void* g_library = nullptr;

EntryFn realEntry() {
    static EntryFn entry = [] {
        g_library = dlopen(EXAMPLE_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!g_library) {
            std::fprintf(stderr, "timing shim: %s\n", dlerror());
            return EntryFn(nullptr);
        }
        return reinterpret_cast<EntryFn>(dlsym(g_library, "EffectMain"));
    }();
    return entry;
}

thread_local std::int64_t t_frame_nanos = 0;
thread_local std::int64_t t_frame_cpu_nanos = 0;

std::int64_t processCpuNanos() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

__attribute__((destructor)) void closePlugin() {
    if (g_library) dlclose(g_library);
}

}  // namespace

extern "C" {

// Nanoseconds the calling thread spent in frame commands since the last call.
__attribute__((visibility("default"))) std::int64_t TevBenchTakeFrameNanos() {
    const std::int64_t nanos = t_frame_nanos;
    t_frame_nanos = 0;
    return nanos;
}

// Nanoseconds of the process's CPU time (all its threads) spent while the
// calling thread was in frame commands, since the last call.
__attribute__((visibility("default"))) std::int64_t TevBenchTakeFrameCpuNanos() {
    const std::int64_t nanos = t_frame_cpu_nanos;
    t_frame_cpu_nanos = 0;
    return nanos;
}

__attribute__((visibility("default"))) PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                                         PF_ParamDef* params[], PF_LayerDef* output,
                                                         void* extra) {
    EntryFn entry = realEntry();
    if (!entry) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (cmd != PF_Cmd_SMART_PRE_RENDER && cmd != PF_Cmd_SMART_RENDER)
        return entry(cmd, in_data, out_data, params, output, extra);
    const std::int64_t cpu_start = processCpuNanos();
    const auto start = std::chrono::steady_clock::now();
    const PF_Err err = entry(cmd, in_data, out_data, params, output, extra);
    t_frame_nanos += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                         .count();
    t_frame_cpu_nanos += processCpuNanos() - cpu_start;
    return err;
}

}  // extern "C"
