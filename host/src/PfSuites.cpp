// PF suites: handles, options button, parameter UI updates, worlds, const
// sequence data, iteration, and the opaque Drawbot tables.
#include <cstring>

#include "Iterate.h"
#include "Suites.h"
#include "Unsupported.h"

namespace TEV::Host {

namespace {

constexpr char kParamUtils[] = "PF Param Utils Suite";
constexpr char kIterate8[] = "PF Iterate8 Suite";
constexpr char kIterate16[] = "PF iterate16 Suite";
constexpr char kIterateFloat[] = "PF iterateFloat Suite";

PF_Err setOptionsButtonName(PF_ProgPtr effect_ref, const A_char* name) {
    CallContext* ctx = contextOf(effect_ref, "PF_SetOptionsButtonName");
    if (!ctx || !name) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    ctx->host->books.with([&](Books& b) { b.options_button_name = name; });
    return PF_Err_NONE;
}

PF_Err updateParamUI(PF_ProgPtr effect_ref, PF_ParamIndex index, const PF_ParamDef* def) {
    CallContext* ctx = contextOf(effect_ref, "PF_UpdateParamUI");
    if (!ctx) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    HeadlessHost::Impl& host = *ctx->host;
    if (ctx->cmd != PF_Cmd_USER_CHANGED_PARAM && ctx->cmd != PF_Cmd_UPDATE_PARAMS_UI) {
        host.noteMisuse("PF_UpdateParamUI outside PF_Cmd_USER_CHANGED_PARAM and PF_Cmd_UPDATE_PARAMS_UI");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (!def || !ctx->instance) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Instance& inst = *ctx->instance;
    {
        std::lock_guard<std::mutex> lock(inst.mutex);
        if (index < 1 || index >= static_cast<PF_ParamIndex>(inst.values.size())) {
            return PF_Err_INVALID_INDEX;
        }
        PF_ParamDef& target = inst.values[index];
        if (def->param_type != target.param_type) {
            host.noteMisuse("PF_UpdateParamUI with a definition of another kind for parameter " +
                            std::to_string(index));
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        // Only the UI part is taken over; values stay the host's.
        target.ui_flags = def->ui_flags;
        target.ui_width = def->ui_width;
        target.ui_height = def->ui_height;
        std::memcpy(target.name, def->name, sizeof(target.name));
        target.name[sizeof(target.name) - 1] = 0;
        target.flags = def->flags;
        if (def->param_type == PF_Param_FLOAT_SLIDER) {
            target.u.fs_d.slider_min = def->u.fs_d.slider_min;
            target.u.fs_d.slider_max = def->u.fs_d.slider_max;
            target.u.fs_d.precision = def->u.fs_d.precision;
            target.u.fs_d.display_flags = def->u.fs_d.display_flags;
        }
    }
    host.books.with([](Books& b) { ++b.param_ui_updates; });
    return PF_Err_NONE;
}

PF_Err getConstSequenceData(PF_ProgPtr effect_ref, PF_ConstHandle* sequence_data) {
    CallContext* ctx = contextOf(effect_ref, "PF_GetConstSequenceData");
    if (!ctx || !sequence_data) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *sequence_data = nullptr;
    if (!ctx->instance) {
        ctx->host->noteMisuse("PF_GetConstSequenceData in a command without an instance");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *sequence_data = reinterpret_cast<PF_ConstHandle>(ctx->instance->sequence_data);
    return PF_Err_NONE;
}

int depthOfFormat(PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB32: return 8;
    case PF_PixelFormat_ARGB64: return 16;
    case PF_PixelFormat_ARGB128: return 32;
    default: return 0;
    }
}

PF_Err newWorld(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean /*clear*/,
                PF_PixelFormat format, PF_EffectWorld* world) {
    CallContext* ctx = contextOf(effect_ref, "PF_NewWorld");
    if (!ctx || !world) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    int depth = depthOfFormat(format);
    if (!depth || width < 0 || height < 0 || width > PF_MAX_WORLD_WIDTH || height > PF_MAX_WORLD_HEIGHT) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PixelWorld owned(width, height, depth);  // zero-filled: cleared either way
    owned.setWriteable(true);
    *world = *owned.world();
    ctx->host->plugin_worlds.with([&](auto& worlds) { worlds[world] = std::move(owned); });
    ctx->host->books.with([](Books& b) { ++b.worlds_made; });
    return PF_Err_NONE;
}

PF_Err disposeWorld(PF_ProgPtr effect_ref, PF_EffectWorld* world) {
    CallContext* ctx = contextOf(effect_ref, "PF_DisposeWorld");
    if (!ctx || !world) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    // Found by record address or, for a copied record, by its pixels.
    const bool made_here = ctx->host->plugin_worlds.with([&](auto& worlds) {
        for (auto it = worlds.begin(); it != worlds.end(); ++it) {
            if (it->first == world || it->second.world()->data == world->data) {
                worlds.erase(it);
                return true;
            }
        }
        return false;
    });
    if (!made_here) {
        ctx->host->noteMisuse("PF_DisposeWorld of a world the host did not make");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    ctx->host->books.with([](Books& b) { ++b.worlds_disposed; });
    std::memset(world, 0, sizeof(*world));
    return PF_Err_NONE;
}

PF_Err getPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    if (!world || !format) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    int depth = knownWorldDepth(world);
    if (!depth) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *format = depth == 8 ? PF_PixelFormat_ARGB32 : depth == 16 ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB128;
    return PF_Err_NONE;
}

const PF_HandleSuite1 kHandleSuite = {&newHandle, &lockHandle, &unlockHandle,
                                      &disposeHandle, &handleSize, &resizeHandle};
const PF_EffectUISuite1 kEffectUISuite = {&setOptionsButtonName};
const PF_WorldSuite2 kWorldSuite = {&newWorld, &disposeWorld, &getPixelFormat};
const PF_EffectSequenceDataSuite1 kSequenceDataSuite = {&getConstSequenceData};

PF_ParamUtilsSuite3 makeParamUtils() {
    PF_ParamUtilsSuite3 s{};
    s.PF_UpdateParamUI = &updateParamUI;
    TEV_HOST_UNSUPPORTED(s, PF_GetCurrentState, kParamUtils);
    TEV_HOST_UNSUPPORTED(s, PF_AreStatesIdentical, kParamUtils);
    TEV_HOST_UNSUPPORTED(s, PF_IsIdenticalCheckout, kParamUtils);
    TEV_HOST_UNSUPPORTED(s, PF_FindKeyframeTime, kParamUtils);
    TEV_HOST_UNSUPPORTED(s, PF_GetKeyframeCount, kParamUtils);
    TEV_HOST_UNSUPPORTED(s, PF_CheckoutKeyframe, kParamUtils);
    TEV_HOST_UNSUPPORTED(s, PF_CheckinKeyframe, kParamUtils);
    TEV_HOST_UNSUPPORTED(s, PF_KeyIndexToTime, kParamUtils);
    return s;
}

PF_Iterate8Suite1 makeIterate8() {
    PF_Iterate8Suite1 s{};
    s.iterate = &iterate8;
    TEV_HOST_UNSUPPORTED(s, iterate_origin, kIterate8);
    TEV_HOST_UNSUPPORTED(s, iterate_lut, kIterate8);
    TEV_HOST_UNSUPPORTED(s, iterate_origin_non_clip_src, kIterate8);
    s.iterate_generic = &iterateGeneric;
    return s;
}

PF_Iterate16Suite1 makeIterate16() {
    PF_Iterate16Suite1 s{};
    s.iterate = &iterate16;
    TEV_HOST_UNSUPPORTED(s, iterate_origin, kIterate16);
    TEV_HOST_UNSUPPORTED(s, iterate_origin_non_clip_src, kIterate16);
    return s;
}

PF_IterateFloatSuite1 makeIterateFloat() {
    PF_IterateFloatSuite1 s{};
    s.iterate = &iterateFloat;
    TEV_HOST_UNSUPPORTED(s, iterate_origin, kIterateFloat);
    TEV_HOST_UNSUPPORTED(s, iterate_origin_non_clip_src, kIterateFloat);
    return s;
}

}  // namespace

const PF_HandleSuite1& pfHandleSuite1() { return kHandleSuite; }
const PF_EffectUISuite1& pfEffectUISuite1() { return kEffectUISuite; }
const PF_ParamUtilsSuite3& pfParamUtilsSuite3() { return builtOnce<makeParamUtils>(); }
const PF_WorldSuite2& pfWorldSuite2() { return kWorldSuite; }
const PF_EffectSequenceDataSuite1& pfEffectSequenceDataSuite1() { return kSequenceDataSuite; }
const PF_Iterate8Suite1& pfIterate8Suite1() { return builtOnce<makeIterate8>(); }
const PF_Iterate16Suite1& pfIterate16Suite1() { return builtOnce<makeIterate16>(); }
const PF_IterateFloatSuite1& pfIterateFloatSuite1() { return builtOnce<makeIterateFloat>(); }

const void* drawbotToken(int index) {
    static const char tokens[4] = {};
    return &tokens[index];
}

}  // namespace TEV::Host
