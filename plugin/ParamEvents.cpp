// The two user-interface commands and the AEGP stream helpers behind them.
#include <cmath>
#include <ctime>

#include "AEGP_SuiteHandler.h"
#include "AE_EffectSuites.h"
#include "Params.h"
#include "PluginState.h"

namespace {

// The instance's AEGP effect reference, or none: a host without the AEGP
// suites (the suite handler throws) simply has no reference to give.
struct EffectRef {
    AEGP_EffectRefH handle = nullptr;
    A_Err err = A_Err_NONE;
    bool aegp = false;  // the AEGP suites are there
};

EffectRef getEffectRef(AEGP_SuiteHandler& suites, globalData* global, PF_InData* in_data) {
    EffectRef ref;
    try {
        AEGP_PFInterfaceSuite1* pf_interface = suites.PFInterfaceSuite1();
        ref.aegp = true;
        ref.err = pf_interface->AEGP_GetNewEffectForEffect(global->aegp_plugin_id, in_data->effect_ref,
                                                           &ref.handle);
    } catch (PF_Err) {
        ref.handle = nullptr;
    }
    return ref;
}

// Disposes the effect reference when the scope ends, on every path.
class EffectRefOwner {
public:
    EffectRefOwner(AEGP_SuiteHandler& suites, AEGP_EffectRefH handle) : suites_(suites), handle_(handle) {}
    ~EffectRefOwner() {
        if (!handle_) return;
        try {
            suites_.EffectSuite2()->AEGP_DisposeEffect(handle_);
        } catch (PF_Err) {
            // A host that handed out the reference but lacks the effect suite: nothing to do.
        }
    }
    EffectRefOwner(const EffectRefOwner&) = delete;
    EffectRefOwner& operator=(const EffectRefOwner&) = delete;

private:
    AEGP_SuiteHandler& suites_;
    AEGP_EffectRefH handle_;
};

void setParamHiddenViaAEGP(A_u_short index, bool undoable, bool hidden, AEGP_PluginID aegp_plugin_id,
                           AEGP_EffectRefH* effect, AEGP_SuiteHandler* suites) {
    AEGP_StreamRefH stream = nullptr;
    A_Err err = suites->StreamSuite2()->AEGP_GetNewEffectStreamByIndex(aegp_plugin_id, *effect, index,
                                                                       &stream);
    if (!err && stream) {
        suites->DynamicStreamSuite2()->AEGP_SetDynamicStreamFlag(stream, AEGP_DynStreamFlag_HIDDEN,
                                                                 undoable, hidden);
    }
    if (stream) suites->StreamSuite2()->AEGP_DisposeStream(stream);
}

// A host without the AEGP suites hides rows through the parameter's UI flags.
void setParamHiddenViaParamUtils(PF_InData* in_data, AEGP_SuiteHandler& suites, PF_ParamDef* params[],
                                 A_long index, bool hidden) {
    if (!params || !params[index]) return;
    try {
        PF_ParamDef copy = *params[index];
        if (hidden)
            copy.ui_flags |= PF_PUI_INVISIBLE;
        else
            copy.ui_flags &= ~PF_PUI_INVISIBLE;
        suites.ParamUtilsSuite3()->PF_UpdateParamUI(in_data->effect_ref, index, &copy);
    } catch (PF_Err) {
        // Neither way to hide a row exists in this host.
    }
}

}  // namespace

void showParamViaAEGP(A_u_short index, bool undoable, AEGP_PluginID aegp_plugin_id,
                      AEGP_EffectRefH* effect, AEGP_SuiteHandler* suites) {
    setParamHiddenViaAEGP(index, undoable, false, aegp_plugin_id, effect, suites);
}

void hideParamViaAEGP(A_u_short index, bool undoable, AEGP_PluginID aegp_plugin_id,
                      AEGP_EffectRefH* effect, AEGP_SuiteHandler* suites) {
    setParamHiddenViaAEGP(index, undoable, true, aegp_plugin_id, effect, suites);
}

A_Err changeFloatOrBoolParamViaAEGP(A_u_short index, float value, AEGP_PluginID aegp_plugin_id,
                                    AEGP_EffectRefH* effect, AEGP_SuiteHandler* suites) {
    AEGP_StreamRefH stream = nullptr;
    A_Err err = suites->StreamSuite2()->AEGP_GetNewEffectStreamByIndex(aegp_plugin_id, *effect, index,
                                                                       &stream);
    if (!err && stream) {
        AEGP_StreamValue value_rec = {};
        value_rec.streamH = stream;
        value_rec.val.one_d = value;
        err = suites->StreamSuite2()->AEGP_SetStreamValue(aegp_plugin_id, stream, &value_rec);
    }
    if (stream) {
        A_Err dispose_err = suites->StreamSuite2()->AEGP_DisposeStream(stream);
        if (!err) err = dispose_err;
    }
    return err;
}

A_Err getBoolParamViaAEGP(A_u_short index, bool* out, AEGP_PluginID aegp_plugin_id,
                          AEGP_EffectRefH* effect, AEGP_SuiteHandler* suites) {
    AEGP_StreamRefH stream = nullptr;
    A_Err err = suites->StreamSuite5()->AEGP_GetNewEffectStreamByIndex(aegp_plugin_id, *effect, index,
                                                                       &stream);
    if (err || !stream) {
        *out = true;
        return err;
    }
    AEGP_StreamValue2 value = {};
    const A_Time now = {0, 1};
    err = suites->StreamSuite5()->AEGP_GetNewStreamValue(aegp_plugin_id, stream, AEGP_LTimeMode_LayerTime,
                                                         &now, false, &value);
    if (!err) {
        *out = value.val.one_d != 0.0 || std::isnan(value.val.one_d);
        suites->StreamSuite5()->AEGP_DisposeStreamValue(&value);  // values must be disposed
    }
    A_Err dispose_err = suites->StreamSuite5()->AEGP_DisposeStream(stream);
    return err ? err : dispose_err;
}

PF_Err toggleParamEnabled(PF_InData* in_data, PF_ParamDef* params[], A_long index, bool enabled) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_ParamDef copy = *params[index];
    if (enabled)
        copy.ui_flags &= ~PF_PUI_DISABLED;
    else
        copy.ui_flags |= PF_PUI_DISABLED;
    return suites.ParamUtilsSuite3()->PF_UpdateParamUI(in_data->effect_ref, index, &copy);
}

PF_Err UserChangedParam(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                        const PF_UserChangedParamExtra* extra) {
    globalData* global = GlobalOf(out_data);
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    EffectRef effect = getEffectRef(suites, global, in_data);
    EffectRefOwner effect_owner(suites, effect.handle);

    TEV::Rest::Client* client = EnsureClient(global);
    if (extra->param_index == PARAM_RECONNECT) {
        // Re-arm the launch; the changed time stamp makes the host render again.
        client->launch_attempted = false;
        params[PARAM_TIMESTAMP]->u.fs_d.value = static_cast<double>(static_cast<A_long>(std::time(nullptr)));
        params[PARAM_TIMESTAMP]->uu.change_flags = PF_ChangeFlag_CHANGED_VALUE;
    } else {
        const std::string instance_id = ReadInstanceId(in_data, out_data);
        if (!instance_id.empty()) {  // an instance whose setup failed has nothing to report
            TEV::Dict report;
            report["instance_id"] = instance_id;
            report["param_id"] = static_cast<long long>(extra->param_index);
            client->call_plugin("user_changed_param", report, {}, {});
        }
    }
    return effect.err;
}

PF_Err UpdateParamsUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]) {
    globalData* global = GlobalOf(out_data);
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    EffectRef effect = getEffectRef(suites, global, in_data);
    EffectRefOwner effect_owner(suites, effect.handle);

    TEV::Rest::Client* client = EnsureClient(global);
    const bool show_reconnect = client->launch_attempted;
    if (effect.handle) {
        try {
            hideParamViaAEGP(PARAM_TIMESTAMP, false, global->aegp_plugin_id, &effect.handle, &suites);
            if (show_reconnect)
                showParamViaAEGP(PARAM_RECONNECT, false, global->aegp_plugin_id, &effect.handle, &suites);
            else
                hideParamViaAEGP(PARAM_RECONNECT, false, global->aegp_plugin_id, &effect.handle, &suites);
        } catch (PF_Err) {
            // A stream suite is missing: the rows keep their state.
        }
    } else if (!effect.aegp) {
        setParamHiddenViaParamUtils(in_data, suites, params, PARAM_TIMESTAMP, true);
        setParamHiddenViaParamUtils(in_data, suites, params, PARAM_RECONNECT, !show_reconnect);
    }
    out_data->out_flags |= PF_OutFlag_REFRESH_UI;
    return PF_Err_NONE;
}
