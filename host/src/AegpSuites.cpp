// AEGP suites: registration, the effect reference of a running command,
// parameter streams (values and the hidden flag) and the application's
// persistent data.
#include <cstring>

#include "AE_GeneralPlug.h"
#include "PfSuites.h"
#include "Unsupported.h"

namespace TEV::Host {

namespace {

constexpr char kUtility[] = "AEGP Utility Suite";
constexpr char kPFInterface[] = "AEGP PF Interface Suite";
constexpr char kEffect[] = "AEGP Effect Suite";
constexpr char kStream[] = "AEGP Stream Suite";
constexpr char kDynamicStream[] = "AEGP Dynamic Stream Suite";
constexpr char kPersistentData[] = "AEGP Persistent Data Suite";

HeadlessHost::Impl* hostOrNull() { return currentHost(); }

// --- registration -----------------------------------------------------------

A_Err registerWithAegp(AEGP_GlobalRefcon, const A_char* name, AEGP_PluginID* plugin_id) {
    HeadlessHost::Impl* host = hostOrNull();
    if (!host || !name || !plugin_id) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    *plugin_id = host->next_plugin_id++;
    host->plugin_ids.insert(*plugin_id);
    host->books.registered_aegp_names.emplace_back(name, strnlen(name, AEGP_MAX_PLUGIN_NAME_SIZE));
    return A_Err_NONE;
}

A_Err reportInfo(AEGP_PluginID, const A_char* info) {
    HeadlessHost::Impl* host = hostOrNull();
    if (!host || !info) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    host->books.reported_info.emplace_back(info);
    return A_Err_NONE;
}

void checkPluginId(HeadlessHost::Impl& host, AEGP_PluginID id, const char* who) {
    bool known;
    {
        std::lock_guard<std::mutex> lock(host.mutex);
        known = host.plugin_ids.count(id) != 0;
    }
    if (!known) {
        host.noteMisuse(std::string(who) + " with AEGP plug-in id " + std::to_string(id) +
                        " that AEGP_RegisterWithAEGP never returned");
    }
}

// --- effect references ------------------------------------------------------

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
    std::lock_guard<std::mutex> lock(ctx->host->mutex);
    ctx->host->effect_refs.insert(ref);
    ++ctx->host->books.effect_refs_made;
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

// The live effect reference behind h, or null (a misuse).
EffectRef* effectRef(HeadlessHost::Impl& host, AEGP_EffectRefH h, const char* who) {
    auto* ref = reinterpret_cast<EffectRef*>(h);
    std::lock_guard<std::mutex> lock(host.mutex);
    if (!ref || !host.effect_refs.count(ref)) {
        host.books.misuse.push_back(std::string(who) + " with an effect reference that is not live");
        return nullptr;
    }
    return ref;
}

A_Err disposeEffect(AEGP_EffectRefH h) {
    HeadlessHost::Impl* host = hostOrNull();
    if (!host) {
        return A_Err_PARAMETER;
    }
    EffectRef* ref = effectRef(*host, h, "AEGP_DisposeEffect");
    if (!ref) {
        return A_Err_PARAMETER;
    }
    {
        std::lock_guard<std::mutex> lock(host->mutex);
        host->effect_refs.erase(ref);
        ++host->books.effect_refs_disposed;
    }
    delete ref;
    return A_Err_NONE;
}

// --- streams ----------------------------------------------------------------

StreamRef* streamRef(HeadlessHost::Impl& host, AEGP_StreamRefH h, const char* who) {
    auto* ref = reinterpret_cast<StreamRef*>(h);
    std::lock_guard<std::mutex> lock(host.mutex);
    if (!ref || !host.stream_refs.count(ref)) {
        host.books.misuse.push_back(std::string(who) + " with a stream reference that is not live");
        return nullptr;
    }
    return ref;
}

A_Err getEffectNumParamStreams(AEGP_EffectRefH h, A_long* count) {
    HeadlessHost::Impl* host = hostOrNull();
    EffectRef* ref = host ? effectRef(*host, h, "AEGP_GetEffectNumParamStreams") : nullptr;
    if (!ref || !count) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(ref->instance->mutex);
    *count = static_cast<A_long>(ref->instance->values.size());
    return A_Err_NONE;
}

A_Err getNewEffectStreamByIndex(AEGP_PluginID plugin_id, AEGP_EffectRefH h, PF_ParamIndex index,
                                AEGP_StreamRefH* stream) {
    HeadlessHost::Impl* host = hostOrNull();
    EffectRef* ref = host ? effectRef(*host, h, "AEGP_GetNewEffectStreamByIndex") : nullptr;
    if (!ref || !stream) {
        return A_Err_PARAMETER;
    }
    *stream = nullptr;
    checkPluginId(*host, plugin_id, "AEGP_GetNewEffectStreamByIndex");
    {
        std::lock_guard<std::mutex> lock(ref->instance->mutex);
        if (index < 0 || index >= static_cast<PF_ParamIndex>(ref->instance->values.size())) {
            return A_Err_PARAMETER;
        }
    }
    auto* s = new StreamRef{ref->instance, index};
    std::lock_guard<std::mutex> lock(host->mutex);
    host->stream_refs.insert(s);
    ++host->books.stream_refs_made;
    *stream = reinterpret_cast<AEGP_StreamRefH>(s);
    return A_Err_NONE;
}

A_Err duplicateStreamRef(AEGP_PluginID, AEGP_StreamRefH h, AEGP_StreamRefH* dup) {
    HeadlessHost::Impl* host = hostOrNull();
    StreamRef* ref = host ? streamRef(*host, h, "AEGP_DuplicateStreamRef") : nullptr;
    if (!ref || !dup) {
        return A_Err_PARAMETER;
    }
    auto* s = new StreamRef(*ref);
    std::lock_guard<std::mutex> lock(host->mutex);
    host->stream_refs.insert(s);
    ++host->books.stream_refs_made;
    *dup = reinterpret_cast<AEGP_StreamRefH>(s);
    return A_Err_NONE;
}

A_Err disposeStream(AEGP_StreamRefH h) {
    HeadlessHost::Impl* host = hostOrNull();
    StreamRef* ref = host ? streamRef(*host, h, "AEGP_DisposeStream") : nullptr;
    if (!ref) {
        return A_Err_PARAMETER;
    }
    {
        std::lock_guard<std::mutex> lock(host->mutex);
        host->stream_refs.erase(ref);
        ++host->books.stream_refs_disposed;
    }
    delete ref;
    return A_Err_NONE;
}

A_Err getStreamName2(AEGP_StreamRefH h, A_Boolean, A_char* name) {
    HeadlessHost::Impl* host = hostOrNull();
    StreamRef* ref = host ? streamRef(*host, h, "AEGP_GetStreamName") : nullptr;
    if (!ref || !name) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(ref->instance->mutex);
    std::strncpy(name, ref->instance->values[ref->index].name, AEGP_MAX_STREAM_NAME_SIZE);
    name[AEGP_MAX_STREAM_NAME_SIZE - 1] = 0;
    return A_Err_NONE;
}

// The value of a float slider, checkbox or popup as a one-dimensional value.
bool oneDValue(const PF_ParamDef& def, double& value) {
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER: value = def.u.fs_d.value; return true;
    case PF_Param_CHECKBOX: value = def.u.bd.value; return true;
    case PF_Param_POPUP: value = def.u.pd.value; return true;
    default: return false;
    }
}

template <typename Value>
A_Err getNewStreamValue(AEGP_PluginID plugin_id, AEGP_StreamRefH h, AEGP_LTimeMode, const A_Time*,
                        A_Boolean, Value* value) {
    HeadlessHost::Impl* host = hostOrNull();
    StreamRef* ref = host ? streamRef(*host, h, "AEGP_GetNewStreamValue") : nullptr;
    if (!ref || !value) {
        return A_Err_PARAMETER;
    }
    checkPluginId(*host, plugin_id, "AEGP_GetNewStreamValue");
    std::memset(value, 0, sizeof(*value));
    double one_d = 0;
    {
        std::lock_guard<std::mutex> lock(ref->instance->mutex);
        if (!oneDValue(ref->instance->values[ref->index], one_d)) {
            return A_Err_PARAMETER;  // streams without a one-dimensional value are not modelled
        }
    }
    value->streamH = h;
    value->val.one_d = one_d;
    std::lock_guard<std::mutex> lock(host->mutex);
    host->stream_values.insert(value);
    ++host->books.stream_values_made;
    return A_Err_NONE;
}

template <typename Value>
A_Err disposeStreamValue(Value* value) {
    HeadlessHost::Impl* host = hostOrNull();
    if (!host || !value) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    if (!host->stream_values.erase(value)) {
        host->books.misuse.push_back("AEGP_DisposeStreamValue of a value the host did not hand out");
        return A_Err_PARAMETER;
    }
    ++host->books.stream_values_disposed;
    return A_Err_NONE;
}

template <typename Value>
A_Err setStreamValue(AEGP_PluginID plugin_id, AEGP_StreamRefH h, Value* value) {
    HeadlessHost::Impl* host = hostOrNull();
    StreamRef* ref = host ? streamRef(*host, h, "AEGP_SetStreamValue") : nullptr;
    if (!ref || !value) {
        return A_Err_PARAMETER;
    }
    checkPluginId(*host, plugin_id, "AEGP_SetStreamValue");
    std::lock_guard<std::mutex> lock(ref->instance->mutex);
    PF_ParamDef& def = ref->instance->values[ref->index];
    double v = value->val.one_d;
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER: def.u.fs_d.value = v; return A_Err_NONE;
    case PF_Param_CHECKBOX: def.u.bd.value = v != 0; return A_Err_NONE;
    case PF_Param_POPUP: def.u.pd.value = static_cast<PF_ParamValue>(v); return A_Err_NONE;
    default: return A_Err_PARAMETER;
    }
}

// --- dynamic streams --------------------------------------------------------

A_Err getDynamicStreamFlags(AEGP_StreamRefH h, AEGP_DynStreamFlags* flags) {
    HeadlessHost::Impl* host = hostOrNull();
    StreamRef* ref = host ? streamRef(*host, h, "AEGP_GetDynamicStreamFlags") : nullptr;
    if (!ref || !flags) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(ref->instance->mutex);
    *flags = ref->instance->hidden[ref->index] ? AEGP_DynStreamFlag_HIDDEN : 0;
    return A_Err_NONE;
}

A_Err setDynamicStreamFlag(AEGP_StreamRefH h, AEGP_DynStreamFlags flag, A_Boolean undoable, A_Boolean set) {
    HeadlessHost::Impl* host = hostOrNull();
    StreamRef* ref = host ? streamRef(*host, h, "AEGP_SetDynamicStreamFlag") : nullptr;
    if (!ref) {
        return A_Err_PARAMETER;
    }
    if (flag != AEGP_DynStreamFlag_HIDDEN) {
        // Only the hidden flag is modelled, and only it may change without undo.
        if (!undoable) {
            host->noteMisuse("AEGP_SetDynamicStreamFlag of a flag other than HIDDEN without undo");
        }
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(ref->instance->mutex);
    ref->instance->hidden[ref->index] = set != 0;
    return A_Err_NONE;
}

// --- persistent data --------------------------------------------------------

// The blob handle is the host itself: one application blob per host.
HeadlessHost::Impl* blobHost(AEGP_PersistentBlobH blob) {
    HeadlessHost::Impl* host = hostOrNull();
    return host && reinterpret_cast<HeadlessHost::Impl*>(blob) == host ? host : nullptr;
}

A_Err getApplicationBlob(AEGP_PersistentBlobH* blob) {
    HeadlessHost::Impl* host = hostOrNull();
    if (!host || !blob) {
        return A_Err_PARAMETER;
    }
    *blob = reinterpret_cast<AEGP_PersistentBlobH>(host);
    return A_Err_NONE;
}

A_Err getNumSections(AEGP_PersistentBlobH blob, A_long* count) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !count) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    *count = static_cast<A_long>(host->persistent.size());
    return A_Err_NONE;
}

A_Err copyKey(const std::string& key, A_long max_size, A_char* out) {
    if (!out || max_size <= 0 || static_cast<A_long>(key.size()) >= max_size) {
        return A_Err_PARAMETER;
    }
    std::memcpy(out, key.c_str(), key.size() + 1);
    return A_Err_NONE;
}

A_Err getSectionKeyByIndex(AEGP_PersistentBlobH blob, A_long index, A_long max_size, A_char* key) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    if (index < 0 || index >= static_cast<A_long>(host->persistent.size())) {
        return A_Err_PARAMETER;
    }
    return copyKey(std::next(host->persistent.begin(), index)->first, max_size, key);
}

A_Err doesKeyExist(AEGP_PersistentBlobH blob, const A_char* section, const A_char* key, A_Boolean* exists) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !section || !key || !exists) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    auto it = host->persistent.find(section);
    *exists = it != host->persistent.end() && it->second.count(key);
    return A_Err_NONE;
}

A_Err getNumKeys(AEGP_PersistentBlobH blob, const A_char* section, A_long* count) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !section || !count) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    auto it = host->persistent.find(section);
    *count = it == host->persistent.end() ? 0 : static_cast<A_long>(it->second.size());
    return A_Err_NONE;
}

A_Err getValueKeyByIndex(AEGP_PersistentBlobH blob, const A_char* section, A_long index,
                         A_long max_size, A_char* key) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !section) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    auto it = host->persistent.find(section);
    if (it == host->persistent.end() || index < 0 || index >= static_cast<A_long>(it->second.size())) {
        return A_Err_PARAMETER;
    }
    return copyKey(std::next(it->second.begin(), index)->first, max_size, key);
}

A_Err getString(AEGP_PersistentBlobH blob, const A_char* section, const A_char* key,
                const A_char* default0, A_u_long buf_size, A_char* buf, A_u_long* actual0) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !section || !key) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    auto& entries = host->persistent[section];
    auto it = entries.find(key);
    if (it == entries.end()) {
        // A missing key takes the default, which is stored as well.
        it = entries.emplace(key, default0 ? default0 : "").first;
    }
    const std::string& value = it->second;
    if (actual0) {
        *actual0 = static_cast<A_u_long>(value.size() + 1);
    }
    if (buf && buf_size > 0) {
        if (value.size() + 1 <= buf_size) {
            std::memcpy(buf, value.c_str(), value.size() + 1);
        } else {
            buf[0] = 0;  // too small: the empty text
        }
    }
    return A_Err_NONE;
}

A_Err setString(AEGP_PersistentBlobH blob, const A_char* section, const A_char* key, const A_char* value) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !section || !key || !value) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    host->persistent[section][key] = value;
    return A_Err_NONE;
}

// --- tables -----------------------------------------------------------------

AEGP_UtilitySuite5 makeUtility() {
    AEGP_UtilitySuite5 s{};
    s.AEGP_ReportInfo = &reportInfo;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetDriverPluginInitFuncVersion, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetDriverImplementationVersion, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_StartQuietErrors, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_EndQuietErrors, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetLastErrorMessage, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_StartUndoGroup, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_EndUndoGroup, kUtility);
    s.AEGP_RegisterWithAEGP = &registerWithAegp;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetMainHWND, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_ShowHideAllFloaters, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_PaintPalGetForeColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_PaintPalGetBackColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_PaintPalSetForeColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_PaintPalSetBackColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CharPalGetFillColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CharPalGetStrokeColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CharPalSetFillColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CharPalSetStrokeColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CharPalIsFillColorUIFrontmost, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_ConvertFpLongToHSFRatio, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_ConvertHSFRatioToFpLong, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CauseIdleRoutinesToBeCalled, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetSuppressInteractiveUI, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_WriteToOSConsole, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_WriteToDebugLog, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_IsScriptingAvailable, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_ExecuteScript, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_HostIsActivated, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetPluginPlatformRef, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_UpdateFontList, kUtility);
    return s;
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

// Members common to both stream tables.
template <typename Suite>
void fillStreamCommon(Suite& s) {
    TEV_HOST_UNSUPPORTED(s, AEGP_IsStreamLegal, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_CanVaryOverTime, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetValidInterpolations, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetNewLayerStream, kStream);
    s.AEGP_GetEffectNumParamStreams = &getEffectNumParamStreams;
    s.AEGP_GetNewEffectStreamByIndex = &getNewEffectStreamByIndex;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetNewMaskStream, kStream);
    s.AEGP_DisposeStream = &disposeStream;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetStreamUnitsText, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetStreamProperties, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_IsStreamTimevarying, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetStreamType, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetLayerStreamValue, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetExpressionState, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_SetExpressionState, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetExpression, kStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_SetExpression, kStream);
    s.AEGP_DuplicateStreamRef = &duplicateStreamRef;
}

AEGP_StreamSuite2 makeStream2() {
    AEGP_StreamSuite2 s{};
    fillStreamCommon(s);
    s.AEGP_GetStreamName = &getStreamName2;
    s.AEGP_GetNewStreamValue = &getNewStreamValue<AEGP_StreamValue>;
    s.AEGP_DisposeStreamValue = &disposeStreamValue<AEGP_StreamValue>;
    s.AEGP_SetStreamValue = &setStreamValue<AEGP_StreamValue>;
    return s;
}

AEGP_StreamSuite5 makeStream5() {
    AEGP_StreamSuite5 s{};
    fillStreamCommon(s);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetStreamName, kStream);  // needs the memory suite
    s.AEGP_GetNewStreamValue = &getNewStreamValue<AEGP_StreamValue2>;
    s.AEGP_DisposeStreamValue = &disposeStreamValue<AEGP_StreamValue2>;
    s.AEGP_SetStreamValue = &setStreamValue<AEGP_StreamValue2>;
    return s;
}

AEGP_DynamicStreamSuite2 makeDynamicStream() {
    AEGP_DynamicStreamSuite2 s{};
    TEV_HOST_UNSUPPORTED(s, AEGP_GetNewStreamRefForLayer, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetStreamDepth, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetStreamGroupingType, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetNumStreamsInGroup, kDynamicStream);
    s.AEGP_GetDynamicStreamFlags = &getDynamicStreamFlags;
    s.AEGP_SetDynamicStreamFlag = &setDynamicStreamFlag;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetNewStreamRefByIndex, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetNewStreamRefByMatchname, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_DeleteStream, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_ReorderStream, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_DuplicateStream, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_SetStreamName, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_CanAddStream, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_AddStream, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetMatchName, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetNewParentStreamRef, kDynamicStream);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetStreamIsModified, kDynamicStream);
    return s;
}

AEGP_PersistentDataSuite3 makePersistentData() {
    AEGP_PersistentDataSuite3 s{};
    s.AEGP_GetApplicationBlob = &getApplicationBlob;
    s.AEGP_GetNumSections = &getNumSections;
    s.AEGP_GetSectionKeyByIndex = &getSectionKeyByIndex;
    s.AEGP_DoesKeyExist = &doesKeyExist;
    s.AEGP_GetNumKeys = &getNumKeys;
    s.AEGP_GetValueKeyByIndex = &getValueKeyByIndex;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetDataHandle, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetData, kPersistentData);
    s.AEGP_GetString = &getString;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetLong, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetFpLong, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_SetDataHandle, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_SetData, kPersistentData);
    s.AEGP_SetString = &setString;
    TEV_HOST_UNSUPPORTED(s, AEGP_SetLong, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_SetFpLong, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_DeleteEntry, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetPrefsDirectory, kPersistentData);
    return s;
}

}  // namespace

void addAegpSuites(SuiteTable& table) {
    static const AEGP_UtilitySuite5 utility = makeUtility();
    static const AEGP_PFInterfaceSuite1 pf_interface = makePFInterface();
    static const AEGP_EffectSuite2 effect = makeEffect();
    static const AEGP_StreamSuite2 stream2 = makeStream2();
    static const AEGP_StreamSuite5 stream5 = makeStream5();
    static const AEGP_DynamicStreamSuite2 dynamic_stream = makeDynamicStream();
    static const AEGP_PersistentDataSuite3 persistent = makePersistentData();
    table[{kAEGPUtilitySuite, kAEGPUtilitySuiteVersion5}] = &utility;
    table[{kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1}] = &pf_interface;
    table[{kAEGPEffectSuite, kAEGPEffectSuiteVersion2}] = &effect;
    table[{kAEGPStreamSuite, kAEGPStreamSuiteVersion2}] = &stream2;
    table[{kAEGPStreamSuite, kAEGPStreamSuiteVersion5}] = &stream5;
    table[{kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2}] = &dynamic_stream;
    table[{kAEGPPersistentDataSuite, kAEGPPersistentDataSuiteVersion3}] = &persistent;
}

const void* findSuite(const std::string& name, int version) {
    static const SuiteTable table = [] {
        SuiteTable t;
        addPfSuites(t);
        addAegpSuites(t);
        return t;
    }();
    auto it = table.find({name, version});
    return it == table.end() ? nullptr : it->second;
}

}  // namespace TEV::Host
