// The callbacks of the smart pre-render and smart render records.
#include <algorithm>

#include "HostImpl.h"

namespace TEV::Host {

namespace {

CallContext* frameContext(PF_ProgPtr effect_ref, PF_Cmd expected, const char* who) {
    CallContext* ctx = contextOf(effect_ref, who);
    if (!ctx) {
        return nullptr;
    }
    if (ctx->cmd != expected || !ctx->frame) {
        ctx->host->noteMisuse(std::string(who) + " outside " + commandName(expected));
        return nullptr;
    }
    return ctx;
}

PF_Err checkoutLayer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                     const PF_RenderRequest* req, A_long /*what_time*/, A_long /*time_step*/,
                     A_u_long /*time_scale*/, PF_CheckoutResult* result) {
    CallContext* ctx = frameContext(effect_ref, PF_Cmd_SMART_PRE_RENDER, "checkout_layer");
    if (!ctx || !req || !result) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (index != 0) {
        return PF_Err_INVALID_INDEX;  // the input layer is the only layer
    }
    Frame& frame = *ctx->frame;
    if (checkout_id < 0 || frame.layer_checkouts.count(checkout_id)) {
        ctx->host->noteMisuse("checkout_layer with checkout id " + std::to_string(checkout_id) +
                              " (negative or used twice in one frame)");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    frame.layer_checkouts[checkout_id] = index;
    const PF_EffectWorld* in = frame.input->world();
    PF_LRect bounds{0, 0, in->width, in->height};
    *result = PF_CheckoutResult{};
    result->result_rect = PF_LRect{std::max(req->rect.left, bounds.left), std::max(req->rect.top, bounds.top),
                                   std::min(req->rect.right, bounds.right),
                                   std::min(req->rect.bottom, bounds.bottom)};
    if (result->result_rect.right < result->result_rect.left || result->result_rect.bottom < result->result_rect.top) {
        result->result_rect = PF_LRect{0, 0, 0, 0};
    }
    result->max_result_rect = bounds;
    result->par = in->pix_aspect_ratio;
    result->ref_width = in->width;
    result->ref_height = in->height;
    ctx->host->books.with([](Books& b) { ++b.layers_checked_out; });
    return PF_Err_NONE;
}

PF_Err guidMixIn(PF_ProgPtr effect_ref, A_u_long, const void*) {
    return frameContext(effect_ref, PF_Cmd_SMART_PRE_RENDER, "GuidMixInPtr") ? PF_Err_NONE
                                                                             : PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err checkoutLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
    CallContext* ctx = frameContext(effect_ref, PF_Cmd_SMART_RENDER, "checkout_layer_pixels");
    if (!ctx || !pixels) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *pixels = nullptr;
    if (!ctx->frame->layer_checkouts.count(checkout_id)) {
        ctx->host->noteMisuse("checkout_layer_pixels of checkout id " + std::to_string(checkout_id) +
                              " that smart pre-render did not check out");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    // Read-only for the plug-in (the world is not marked writeable).
    *pixels = const_cast<PF_EffectWorld*>(ctx->frame->input->world());
    ctx->host->books.with([](Books& b) { ++b.layer_pixels_checked_out; });
    return PF_Err_NONE;
}

PF_Err checkinLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id) {
    CallContext* ctx = frameContext(effect_ref, PF_Cmd_SMART_RENDER, "checkin_layer_pixels");
    if (!ctx || !ctx->frame->layer_checkouts.count(checkout_id)) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    ctx->host->books.with([](Books& b) { ++b.layer_pixels_checked_in; });
    return PF_Err_NONE;
}

PF_Err checkoutOutput(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
    CallContext* ctx = frameContext(effect_ref, PF_Cmd_SMART_RENDER, "checkout_output");
    if (!ctx || !output) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *output = ctx->frame->output.world();
    ctx->host->books.with([](Books& b) { ++b.outputs_checked_out; });
    return PF_Err_NONE;
}

}  // namespace

PF_PreRenderCallbacks preRenderCallbacks() { return PF_PreRenderCallbacks{&checkoutLayer, &guidMixIn}; }

PF_SmartRenderCallbacks smartRenderCallbacks() {
    return PF_SmartRenderCallbacks{&checkoutLayerPixels, &checkinLayerPixels, &checkoutOutput};
}

}  // namespace TEV::Host
