// The fault shim (see FaultShim.h). Loads ExamplePlugin by its build path on
// the first command and forwards to its EffectMain with a patched copy of the
// host's records.
#include "FaultShim.h"

#include <dlfcn.h>

#include <cstdio>

#include "ExamplePlugin.h"

namespace {

FaultShimConfig g_config;
void* g_library = nullptr;
PF_Err (*g_host_checkout)(PF_ProgPtr, PF_ParamIndex, A_long, A_long, A_u_long, PF_ParamDef*) = nullptr;

using EntryFn = PF_Err (*)(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*);

EntryFn realEntry() {
    static EntryFn entry = [] {
        g_library = dlopen(EXAMPLE_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!g_library) {
            std::fprintf(stderr, "fault shim: %s\n", dlerror());
            return EntryFn(nullptr);
        }
        return reinterpret_cast<EntryFn>(dlsym(g_library, "EffectMain"));
    }();
    return entry;
}

PF_Err failingCheckout(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                       A_u_long time_scale, PF_ParamDef* param) {
    if (index == g_config.fail_checkout_index) return g_config.checkout_error;
    return g_host_checkout(effect_ref, index, what_time, time_step, time_scale, param);
}

// The plug-in goes when the shim goes.
__attribute__((destructor)) void closePlugin() {
    if (g_library) dlclose(g_library);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void FaultShimConfigure(const FaultShimConfig* config) {
    g_config = *config;
}

DllExport PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                            PF_LayerDef* output, void* extra) {
    EntryFn entry = realEntry();
    if (!entry) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (!in_data) return entry(cmd, in_data, out_data, params, output, extra);

    if (g_config.skip_sequence_setup && (cmd == PF_Cmd_SEQUENCE_SETUP || cmd == PF_Cmd_SEQUENCE_RESETUP))
        return PF_Err_NONE;

    PF_InData in = *in_data;
    if (g_config.appl_id) in.appl_id = g_config.appl_id;
    if (cmd == PF_Cmd_GLOBAL_SETUP && out_data) {
        out_data->out_flags = g_config.preset_out_flags;
        out_data->out_flags2 = g_config.preset_out_flags2;
    }
    if (cmd == PF_Cmd_SMART_PRE_RENDER && g_config.fail_checkout_index) {
        g_host_checkout = in.inter.checkout_param;
        in.inter.checkout_param = failingCheckout;
    }
    PF_SmartRenderInput render_input;
    PF_SmartRenderExtra render_extra;
    if (cmd == PF_Cmd_SMART_RENDER && g_config.render_bitdepth && extra) {
        render_extra = *static_cast<PF_SmartRenderExtra*>(extra);
        render_input = *render_extra.input;
        render_input.bitdepth = g_config.render_bitdepth;
        render_extra.input = &render_input;
        extra = &render_extra;
    }
    return entry(cmd, &in, out_data, params, output, extra);
}
}
