// Smart pre-render and smart render.
#include <atomic>

#include "AEGP_SuiteHandler.h"
#include "AE_Macros.h"
#include "Commands.h"
#include "Params.h"
#include "Render.h"
#include "Smart_Utils.h"

namespace {

// The host frees a frame's pre-render data through this callback, which gets
// nothing but the data itself; the host's handle disposer is remembered from
// the pre-render call that allocated it (the host keeps it for the whole load).
std::atomic<void (*)(PF_Handle)> g_dispose_handle{nullptr};

void DeletePluginParams(void* pre_render_data) {
    auto dispose = g_dispose_handle.load();
    if (dispose && pre_render_data) dispose(static_cast<PF_Handle>(pre_render_data));
}

}  // namespace

PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra) {
    PF_RenderRequest request = extra->input->output_request;
    request.channel_mask = PF_ChannelMask_ARGB;

    PF_CheckoutResult checkout;
    AEFX_CLR_STRUCT(checkout);
    PF_Err err = extra->cb->checkout_layer(in_data->effect_ref, PARAM_INPUT, PARAM_INPUT, &request,
                                           in_data->current_time, in_data->time_step,
                                           in_data->time_scale, &checkout);
    if (err) return err;
    UnionLRect(&checkout.result_rect, &extra->output->result_rect);
    UnionLRect(&checkout.max_result_rect, &extra->output->max_result_rect);

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_HandleSuite1* handles = suites.HandleSuite1();
    PF_Handle handle = handles->host_new_handle(sizeof(PluginParams));
    if (!handle) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    auto* params = static_cast<PluginParams*>(handles->host_lock_handle(handle));
    if (!params) {
        handles->host_dispose_handle(handle);
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    err = GetParams(in_data, out_data, params);
    handles->host_unlock_handle(handle);
    if (err) {
        handles->host_dispose_handle(handle);  // never handed to the host
        return err;
    }
    g_dispose_handle.store(handles->host_dispose_handle);
    extra->output->pre_render_data = handle;
    extra->output->delete_pre_render_data_func = DeletePluginParams;
    return PF_Err_NONE;
}

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    globalData* global = GlobalOf(out_data);
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_Handle params_handle = static_cast<PF_Handle>(extra->input->pre_render_data);
    auto* params = params_handle ? static_cast<PluginParams*>(suites.HandleSuite1()->host_lock_handle(params_handle))
                                 : nullptr;
    if (!params) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    struct Unlock {
        PF_HandleSuite1* handles;
        PF_Handle handle;
        ~Unlock() { handles->host_unlock_handle(handle); }
    } unlock{suites.HandleSuite1(), params_handle};

    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = nullptr;
    PF_Err err = extra->cb->checkout_layer_pixels(in_data->effect_ref, PARAM_INPUT, &input);
    if (err) return err;
    err = extra->cb->checkout_output(in_data->effect_ref, &output);
    if (err) return err;
    return UniversalRender(in_data, input, out_data, output, params, static_cast<int>(extra->input->bitdepth),
                           global);
}
