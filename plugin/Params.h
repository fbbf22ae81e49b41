// The effect's parameters: their table, their registration, the gathering of
// one frame's values, and the two user-interface commands.
#pragma once

#include <functional>

#include "AEGP_SuiteHandler.h"
#include "AE_Effect.h"
#include "PluginState.h"

// Parameter indices (0 is the input layer the host supplies) and disk ids.
// The ids are stored with the host's projects: never change them.
enum ParamIndex : A_long {
    PARAM_INPUT = 0,
    PARAM_RECONNECT,   // button "Reconnect", supervised
    PARAM_TIMESTAMP,   // hidden; changes when Reconnect is pressed so the host renders again
    PARAM_BRIGHTNESS,
    PARAM_CONTRAST,
    PARAM_SATURATION,
    PARAM_ENABLE,
    PARAM_TYPE,
    PARAM_COUNT        // 8, the input layer included
};

enum ParamDiskId : A_long {
    DISK_ID_BRIGHTNESS = 1,
    DISK_ID_CONTRAST = 2,
    DISK_ID_SATURATION = 3,
    DISK_ID_ENABLE = 4,
    DISK_ID_TYPE = 5,
    DISK_ID_RECONNECT = 7005,
    DISK_ID_TIMESTAMP = 7006,
};

// The "Type" popup: 1-based item numbers.
constexpr const char* kTypeChoices =
    "Skip benchmarking|Return Image without modifying|OpenCV|Tensor(CPU)|Tensor(GPU)|Torch(MPS)";
constexpr A_short kTypeChoiceCount = 6;

// Runs a cleanup callable when it goes out of scope (if still active).
class ScopeGuard {
public:
    explicit ScopeGuard(std::function<void()> cleanup) : cleanup_(std::move(cleanup)), active_(true) {}
    ~ScopeGuard() {
        if (active_ && cleanup_) cleanup_();
    }
    void dismiss() { active_ = false; }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

private:
    std::function<void()> cleanup_;
    bool active_;
};

// PF_Cmd_PARAMS_SETUP: registers parameters 1 to 7; the first failing
// add_param ends it with that error.
PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data);

// Checks parameters 1 to 7 out at the current time and copies their values;
// everything checked out is checked back in on every path. The first failing
// check-out is the result.
PF_Err GetParams(PF_InData* in_data, PF_OutData* out_data, PluginParams* params);

// Copies the frame's values out of parameter definitions indexed like
// ParamIndex (defs[PARAM_BRIGHTNESS] ... defs[PARAM_TYPE]; the others are not
// read): the sliders narrowed to float, the checkbox as a bool, the popup's
// 1-based item number. Shared by GetParams and the params array that a host
// without smart rendering passes with PF_Cmd_RENDER.
void CopyParamValues(const PF_ParamDef* const defs[], PluginParams* params);

// PF_Cmd_USER_CHANGED_PARAM: the Reconnect button re-arms the server launch
// and stamps the hidden time stamp; any other index is reported to the server.
PF_Err UserChangedParam(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                        const PF_UserChangedParamExtra* extra);

// PF_Cmd_UPDATE_PARAMS_UI: the time stamp is always hidden; the Reconnect row
// is shown only while a server launch has been attempted.
PF_Err UpdateParamsUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]);

// ---- AEGP parameter stream helpers (errors of the stream calls are swallowed) ----
void showParamViaAEGP(A_u_short index, bool undoable, AEGP_PluginID aegp_plugin_id,
                      AEGP_EffectRefH* effect, AEGP_SuiteHandler* suites);
void hideParamViaAEGP(A_u_short index, bool undoable, AEGP_PluginID aegp_plugin_id,
                      AEGP_EffectRefH* effect, AEGP_SuiteHandler* suites);
// Sets a parameter's one-dimensional value; returns the first AEGP error.
A_Err changeFloatOrBoolParamViaAEGP(A_u_short index, float value, AEGP_PluginID aegp_plugin_id,
                                    AEGP_EffectRefH* effect, AEGP_SuiteHandler* suites);
// Reads whether a parameter's value is non-zero (NaN counts as non-zero);
// stores true when the stream cannot be had and returns that error.
A_Err getBoolParamViaAEGP(A_u_short index, bool* out, AEGP_PluginID aegp_plugin_id,
                          AEGP_EffectRefH* effect, AEGP_SuiteHandler* suites);
// Enables or disables a parameter's control through PF_UpdateParamUI.
PF_Err toggleParamEnabled(PF_InData* in_data, PF_ParamDef* params[], A_long index, bool enabled);
