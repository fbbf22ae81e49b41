// AEGP Stream and Dynamic Stream suites: the effect's parameters as streams,
// their names, one-dimensional values and hidden flag.
#include <cstring>

#include "AegpSuites.h"
#include "Suites.h"
#include "Unsupported.h"

namespace TEV::Host {

namespace {

constexpr char kStream[] = "AEGP Stream Suite";
constexpr char kDynamicStream[] = "AEGP Dynamic Stream Suite";

// --- streams ----------------------------------------------------------------

std::string notLive(const char* who) { return std::string(who) + " with a stream reference that is not live"; }

// The live stream reference behind h, or null (a misuse).
StreamRef* streamRef(HeadlessHost::Impl& host, AEGP_StreamRefH h, const char* who) {
    return host.stream_refs.find(h, host.books, notLive(who));
}

A_Err getEffectNumParamStreams(AEGP_EffectRefH h, A_long* count) {
    HeadlessHost::Impl* host = currentHost();
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
    HeadlessHost::Impl* host = currentHost();
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
    host->stream_refs.handOut(s, host->books);
    *stream = reinterpret_cast<AEGP_StreamRefH>(s);
    return A_Err_NONE;
}

A_Err duplicateStreamRef(AEGP_PluginID, AEGP_StreamRefH h, AEGP_StreamRefH* dup) {
    HeadlessHost::Impl* host = currentHost();
    StreamRef* ref = host ? streamRef(*host, h, "AEGP_DuplicateStreamRef") : nullptr;
    if (!ref || !dup) {
        return A_Err_PARAMETER;
    }
    auto* s = new StreamRef(*ref);
    host->stream_refs.handOut(s, host->books);
    *dup = reinterpret_cast<AEGP_StreamRefH>(s);
    return A_Err_NONE;
}

A_Err disposeStream(AEGP_StreamRefH h) {
    HeadlessHost::Impl* host = currentHost();
    auto* ref = reinterpret_cast<StreamRef*>(h);
    if (!host || !host->stream_refs.takeBack(ref, host->books, notLive("AEGP_DisposeStream"))) {
        return A_Err_PARAMETER;
    }
    delete ref;
    return A_Err_NONE;
}

A_Err getStreamName2(AEGP_StreamRefH h, A_Boolean, A_char* name) {
    HeadlessHost::Impl* host = currentHost();
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
    HeadlessHost::Impl* host = currentHost();
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
    host->stream_values.handOut(value, host->books);
    return A_Err_NONE;
}

template <typename Value>
A_Err disposeStreamValue(Value* value) {
    HeadlessHost::Impl* host = currentHost();
    if (!host || !value) {
        return A_Err_PARAMETER;
    }
    if (!host->stream_values.takeBack(value, host->books,
                                      "AEGP_DisposeStreamValue of a value the host did not hand out")) {
        return A_Err_PARAMETER;
    }
    return A_Err_NONE;
}

template <typename Value>
A_Err setStreamValue(AEGP_PluginID plugin_id, AEGP_StreamRefH h, Value* value) {
    HeadlessHost::Impl* host = currentHost();
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
    HeadlessHost::Impl* host = currentHost();
    StreamRef* ref = host ? streamRef(*host, h, "AEGP_GetDynamicStreamFlags") : nullptr;
    if (!ref || !flags) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(ref->instance->mutex);
    *flags = ref->instance->hidden[ref->index] ? AEGP_DynStreamFlag_HIDDEN : 0;
    return A_Err_NONE;
}

A_Err setDynamicStreamFlag(AEGP_StreamRefH h, AEGP_DynStreamFlags flag, A_Boolean undoable, A_Boolean set) {
    HeadlessHost::Impl* host = currentHost();
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

}  // namespace

const AEGP_StreamSuite2& aegpStreamSuite2() { return builtOnce<makeStream2>(); }
const AEGP_StreamSuite5& aegpStreamSuite5() { return builtOnce<makeStream5>(); }
const AEGP_DynamicStreamSuite2& aegpDynamicStreamSuite2() { return builtOnce<makeDynamicStream>(); }

}  // namespace TEV::Host
