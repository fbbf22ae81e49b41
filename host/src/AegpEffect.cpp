// AEGP PF Interface and Effect suites: the effect's layer and time, and the
// effect references the plug-in takes and disposes.
#include "AegpSuites.h"
#include "Suites.h"
#include "Unsupported.h"

namespace TEV::Host {

namespace {

constexpr char kPFInterface[] = "AEGP PF Interface Suite";
constexpr char kEffect[] = "AEGP Effect Suite";

A_Err getEffectLayer(PF_ProgPtr effect_ref, AEGP_LayerH* layer) {
    CallContext* ctx = contextOf(effect_ref, "AEGP_GetEffectLayer");
    if (!ctx || !layer || !ctx->instance) {
        return A_Err_PARAMETER;
    }
    *layer = reinterpret_cast<AEGP_LayerH>(&ctx->instance->layer_token);
    return A_Err_NONE;
}

A_Err getNewEffectForEffect(AEGP_PluginID plugin_id, PF_ProgPtr effect_ref, AEGP_EffectRefH* effect) {
    CallContext* ctx = contextOf(effect_ref, "AEGP_GetNewEffectForEffect");
    if (!ctx || !effect) {
        return A_Err_PARAMETER;
    }
    *effect = nullptr;
    if (!ctx->instance) {
        ctx->host->noteMisuse("AEGP_GetNewEffectForEffect in a command without an instance");
        return A_Err_PARAMETER;
    }
    checkPluginId(*ctx->host, plugin_id, "AEGP_GetNewEffectForEffect");
    auto* ref = new EffectRef{ctx->instance};
    ctx->host->effect_refs.handOut(ref, ctx->host->books);
    *effect = reinterpret_cast<AEGP_EffectRefH>(ref);
    return A_Err_NONE;
}

A_Err convertEffectToCompTime(PF_ProgPtr effect_ref, A_long what_time, A_u_long time_scale, A_Time* comp_time) {
    if (!contextOf(effect_ref, "AEGP_ConvertEffectToCompTime") || !comp_time) {
        return A_Err_PARAMETER;
    }
    // The effect's layer starts at composition time 0.
    *comp_time = A_Time{what_time, time_scale};
    return A_Err_NONE;
}

A_Err getEffectCamera(PF_ProgPtr effect_ref, const A_Time*, AEGP_LayerH* camera) {
    if (!contextOf(effect_ref, "AEGP_GetEffectCamera") || !camera) {
        return A_Err_PARAMETER;
    }
    *camera = nullptr;  // no camera in a headless composition
    return A_Err_NONE;
}

std::string notLive(const char* who) { return std::string(who) + " with an effect reference that is not live"; }

A_Err disposeEffect(AEGP_EffectRefH h) {
    HeadlessHost::Impl* host = currentHost();
    if (!host) {
        return A_Err_PARAMETER;
    }
    auto* ref = reinterpret_cast<EffectRef*>(h);
    if (!host->effect_refs.takeBack(ref, host->books, notLive("AEGP_DisposeEffect"))) {
        return A_Err_PARAMETER;
    }
    delete ref;
    return A_Err_NONE;
}

AEGP_PFInterfaceSuite1 makePFInterface() {
    AEGP_PFInterfaceSuite1 s{};
    s.AEGP_GetEffectLayer = &getEffectLayer;
    s.AEGP_GetNewEffectForEffect = &getNewEffectForEffect;
    s.AEGP_ConvertEffectToCompTime = &convertEffectToCompTime;
    s.AEGP_GetEffectCamera = &getEffectCamera;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetEffectCameraMatrix, kPFInterface);
    return s;
}

AEGP_EffectSuite2 makeEffect() {
    AEGP_EffectSuite2 s{};
    TEV_HOST_UNSUPPORTED(s, AEGP_GetLayerNumEffects, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetLayerEffectByIndex, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetInstalledKeyFromLayerEffect, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetEffectParamUnionByIndex, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetEffectFlags, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_SetEffectFlags, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_ReorderEffect, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_EffectCallGeneric, kEffect);
    s.AEGP_DisposeEffect = &disposeEffect;
    TEV_HOST_UNSUPPORTED(s, AEGP_ApplyEffect, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_DeleteLayerEffect, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetNumInstalledEffects, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetNextInstalledEffect, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetEffectName, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetEffectMatchName, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetEffectCategory, kEffect);
    TEV_HOST_UNSUPPORTED(s, AEGP_DuplicateEffect, kEffect);
    return s;
}

}  // namespace

// The live effect reference behind h, or null (a misuse).
EffectRef* effectRef(HeadlessHost::Impl& host, AEGP_EffectRefH h, const char* who) {
    return host.effect_refs.find(h, host.books, notLive(who));
}

const AEGP_PFInterfaceSuite1& aegpPFInterfaceSuite1() { return builtOnce<makePFInterface>(); }
const AEGP_EffectSuite2& aegpEffectSuite2() { return builtOnce<makeEffect>(); }

}  // namespace TEV::Host
