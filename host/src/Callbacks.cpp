// The callback blocks of PF_InData: interaction callbacks (parameters, abort,
// progress) and utility callbacks (handles, iteration, C library stand-ins).
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Iterate.h"
#include "Unsupported.h"

namespace TEV::Host {

namespace {

constexpr char kUtilCallbacks[] = "PF_UtilCallbacks";
constexpr char kInteractCallbacks[] = "PF_InteractCallbacks";
constexpr char kColorCallbacks[] = "PF_ColorCallbacks";

// --- interaction ------------------------------------------------------------

PF_Err addParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    CallContext* ctx = contextOf(effect_ref, "add_param");
    if (!ctx) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    HeadlessHost::Impl& host = *ctx->host;
    if (ctx->cmd != PF_Cmd_PARAMS_SETUP) {
        host.noteMisuse("add_param outside PF_Cmd_PARAMS_SETUP");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (!def) {
        host.noteMisuse("add_param with a null definition");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (index != -1 && index != static_cast<PF_ParamIndex>(host.registered.size())) {
        host.noteMisuse("add_param at index " + std::to_string(index) + " (only appending is supported)");
        return PF_Err_INVALID_INDEX;
    }
    auto reg = std::make_unique<RegisteredParam>();
    reg->def = *def;
    reg->def.name[sizeof(reg->def.name) - 1] = 0;
    // Texts behind pointers may live on the plug-in's stack: keep copies.
    switch (def->param_type) {
    case PF_Param_POPUP:
        reg->choices = def->u.pd.u.namesptr ? def->u.pd.u.namesptr : "";
        reg->def.u.pd.u.namesptr = reg->choices.c_str();
        break;
    case PF_Param_BUTTON:
        reg->label = def->u.button_d.u.namesptr ? def->u.button_d.u.namesptr : "";
        reg->def.u.button_d.u.namesptr = reg->label.c_str();
        break;
    case PF_Param_CHECKBOX:
        reg->label = def->u.bd.u.nameptr ? def->u.bd.u.nameptr : "";
        reg->def.u.bd.u.nameptr = reg->label.c_str();
        break;
    default:
        break;
    }
    host.registered.push_back(std::move(reg));
    return PF_Err_NONE;
}

PF_Err checkoutParam(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long /*what_time*/,
                     A_long /*time_step*/, A_u_long /*time_scale*/, PF_ParamDef* param) {
    CallContext* ctx = contextOf(effect_ref, "checkout_param");
    if (!ctx) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    HeadlessHost::Impl& host = *ctx->host;
    if (!param || !ctx->instance) {
        host.noteMisuse("checkout_param without an instance or with a null definition");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Instance& inst = *ctx->instance;
    std::lock_guard<std::mutex> lock(inst.mutex);
    if (index < 0 || index >= static_cast<PF_ParamIndex>(inst.values.size())) {
        return PF_Err_INVALID_INDEX;
    }
    *param = inst.values[index];
    if (index == 0 && ctx->frame && ctx->frame->input) {
        // The input layer: the frame's input world.
        param->u.ld = *ctx->frame->input->world();
        param->u.ld.dephault = PF_LayerDefault_MYSELF;
    }
    ++inst.checked_out[param->uu.id];
    host.books.with([](Books& b) { ++b.params_checked_out; });
    return PF_Err_NONE;
}

PF_Err checkinParam(PF_ProgPtr effect_ref, PF_ParamDef* param) {
    CallContext* ctx = contextOf(effect_ref, "checkin_param");
    if (!ctx) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    HeadlessHost::Impl& host = *ctx->host;
    if (!param || !ctx->instance) {
        host.noteMisuse("checkin_param without an instance or with a null definition");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Instance& inst = *ctx->instance;
    {
        std::lock_guard<std::mutex> lock(inst.mutex);
        auto it = inst.checked_out.find(param->uu.id);
        if (it == inst.checked_out.end() || it->second == 0) {
            host.noteMisuse("checkin_param of parameter id " + std::to_string(param->uu.id) +
                            " that is not checked out");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (--it->second == 0) {
            inst.checked_out.erase(it);
        }
    }
    host.books.with([](Books& b) { ++b.params_checked_in; });
    return PF_Err_NONE;
}

PF_Err abortCallback(PF_ProgPtr effect_ref) {
    CallContext* ctx = contextOf(effect_ref, "abort");
    return ctx ? ctx->host->abortCheck() : PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err progressCallback(PF_ProgPtr effect_ref, A_long current, A_long total) {
    CallContext* ctx = contextOf(effect_ref, "progress");
    return ctx ? ctx->host->reportProgress(current, total) : PF_Err_BAD_CALLBACK_PARAM;
}

// --- utility ----------------------------------------------------------------

// The host's sprintf: C semantics (the caller owns the buffer's size).
int ansiSprintf(A_char* buffer, const A_char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = std::vsprintf(buffer, format, args);
    va_end(args);
    return n;
}
A_char* ansiStrcpy(A_char* dst, const A_char* src) { return std::strcpy(dst, src); }

A_FpLong ansiAtan(A_FpLong x) { return std::atan(x); }
A_FpLong ansiAtan2(A_FpLong y, A_FpLong x) { return std::atan2(y, x); }
A_FpLong ansiCeil(A_FpLong x) { return std::ceil(x); }
A_FpLong ansiCos(A_FpLong x) { return std::cos(x); }
A_FpLong ansiExp(A_FpLong x) { return std::exp(x); }
A_FpLong ansiFabs(A_FpLong x) { return std::fabs(x); }
A_FpLong ansiFloor(A_FpLong x) { return std::floor(x); }
A_FpLong ansiFmod(A_FpLong x, A_FpLong y) { return std::fmod(x, y); }
A_FpLong ansiHypot(A_FpLong x, A_FpLong y) { return std::hypot(x, y); }
A_FpLong ansiLog(A_FpLong x) { return std::log(x); }
A_FpLong ansiLog10(A_FpLong x) { return std::log10(x); }
A_FpLong ansiPow(A_FpLong x, A_FpLong y) { return std::pow(x, y); }
A_FpLong ansiSin(A_FpLong x) { return std::sin(x); }
A_FpLong ansiSqrt(A_FpLong x) { return std::sqrt(x); }
A_FpLong ansiTan(A_FpLong x) { return std::tan(x); }
A_FpLong ansiAsin(A_FpLong x) { return std::asin(x); }
A_FpLong ansiAcos(A_FpLong x) { return std::acos(x); }

PF_Err unsupportedApp(PF_ProgPtr, A_long, ...) {
    noteUnsupportedCall(kUtilCallbacks);
    return PF_Err_INVALID_CALLBACK;
}

template <typename Pixel, int Depth>
PF_Err pixelData(PF_EffectWorld* world, PF_PixelPtr pixels0, Pixel** out) {
    if (!out) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *out = nullptr;
    if (!world) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    int depth = knownWorldDepth(world);
    bool deep = (world->world_flags & PF_WorldFlag_DEEP) != 0;
    bool matches = depth ? depth == Depth : (Depth == 16) == deep;
    if (matches) {
        *out = reinterpret_cast<Pixel*>(pixels0 ? pixels0 : world->data);
    }
    return PF_Err_NONE;
}

PF_UtilCallbacks makeUtilCallbacks() {
    PF_UtilCallbacks u{};
    TEV_HOST_UNSUPPORTED(u, begin_sampling, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, subpixel_sample, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, area_sample, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, end_sampling, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, composite_rect, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, blend, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, convolve, kUtilCallbacks);
    u.copy = &copyWorld;
    TEV_HOST_UNSUPPORTED(u, fill, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, gaussian_kernel, kUtilCallbacks);
    u.iterate = &iterate8;
    TEV_HOST_UNSUPPORTED(u, premultiply, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, premultiply_color, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, new_world, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, dispose_world, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, iterate_origin, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, iterate_lut, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, transfer_rect, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, transform_world, kUtilCallbacks);
    u.host_new_handle = &newHandle;
    u.host_lock_handle = &lockHandle;
    u.host_unlock_handle = &unlockHandle;
    u.host_dispose_handle = &disposeHandle;
    TEV_HOST_UNSUPPORTED(u, get_callback_addr, kUtilCallbacks);
    u.app = &unsupportedApp;
    u.ansi = PF_ANSICallbacks{&ansiAtan, &ansiAtan2, &ansiCeil, &ansiCos,   &ansiExp,
                              &ansiFabs, &ansiFloor, &ansiFmod, &ansiHypot, &ansiLog,
                              &ansiLog10, &ansiPow,  &ansiSin,  &ansiSqrt,  &ansiTan,
                              &ansiSprintf, &ansiStrcpy, &ansiAsin, &ansiAcos, {0}};
    TEV_HOST_UNSUPPORTED(u, colorCB.RGBtoHLS, kColorCallbacks);
    TEV_HOST_UNSUPPORTED(u, colorCB.HLStoRGB, kColorCallbacks);
    TEV_HOST_UNSUPPORTED(u, colorCB.RGBtoYIQ, kColorCallbacks);
    TEV_HOST_UNSUPPORTED(u, colorCB.YIQtoRGB, kColorCallbacks);
    TEV_HOST_UNSUPPORTED(u, colorCB.Luminance, kColorCallbacks);
    TEV_HOST_UNSUPPORTED(u, colorCB.Hue, kColorCallbacks);
    TEV_HOST_UNSUPPORTED(u, colorCB.Lightness, kColorCallbacks);
    TEV_HOST_UNSUPPORTED(u, colorCB.Saturation, kColorCallbacks);
    TEV_HOST_UNSUPPORTED(u, get_platform_data, kUtilCallbacks);
    u.host_get_handle_size = &handleSize;
    TEV_HOST_UNSUPPORTED(u, iterate_origin_non_clip_src, kUtilCallbacks);
    u.iterate_generic = &iterateGeneric;
    u.host_resize_handle = &resizeHandle;
    TEV_HOST_UNSUPPORTED(u, subpixel_sample16, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, area_sample16, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, fill16, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, premultiply_color16, kUtilCallbacks);
    u.iterate16 = &iterate16;
    TEV_HOST_UNSUPPORTED(u, iterate_origin16, kUtilCallbacks);
    TEV_HOST_UNSUPPORTED(u, iterate_origin_non_clip_src16, kUtilCallbacks);
    u.get_pixel_data8 = &pixelData<PF_Pixel8, 8>;
    u.get_pixel_data16 = &pixelData<PF_Pixel16, 16>;
    return u;
}

}  // namespace

void noteUnsupportedCall(const char* table) {
    if (HeadlessHost::Impl* host = currentHost()) {
        host->noteUnsupported(table);
    }
}

PF_UtilCallbacks* utilCallbacks() {
    static PF_UtilCallbacks table = makeUtilCallbacks();
    return &table;
}

PF_InteractCallbacks interactCallbacks() {
    PF_InteractCallbacks c{};
    c.checkout_param = &checkoutParam;
    c.checkin_param = &checkinParam;
    c.add_param = &addParam;
    c.abort = &abortCallback;
    c.progress = &progressCallback;
    TEV_HOST_UNSUPPORTED(c, register_ui, kInteractCallbacks);
    TEV_HOST_UNSUPPORTED(c, checkout_layer_audio, kInteractCallbacks);
    TEV_HOST_UNSUPPORTED(c, checkin_layer_audio, kInteractCallbacks);
    TEV_HOST_UNSUPPORTED(c, get_audio_data, kInteractCallbacks);
    return c;
}

}  // namespace TEV::Host
