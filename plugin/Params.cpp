// Parameter registration and the gathering of one frame's values.
#include "Params.h"

#include <cstring>
#include <vector>

#include "AE_Macros.h"
#include "Param_Utils.h"
#include "UserTexts.h"

namespace {

constexpr float kSliderMin = 0.0f;
constexpr float kSliderMax = 2.0f;
constexpr double kSliderDefault = 1.0;
constexpr float kTimestampMax = 2.55e12f;  // held as the float 2549999992832

PF_Err addParam(PF_InData* in_data, PF_ParamDef& def) {
    return in_data->inter.add_param(in_data->effect_ref, -1, &def);
}

void setName(PF_ParamDef& def, const char* name) { PF_STRNNCPY(def.name, name, sizeof(def.name)); }

PF_Err addFloatSlider(PF_InData* in_data, const char* name, A_long id, float max, double dflt,
                      A_short precision, PF_ValueDisplayFlags display_flags) {
    PF_ParamDef def;
    AEFX_CLR_STRUCT(def);
    def.param_type = PF_Param_FLOAT_SLIDER;
    setName(def, name);
    def.uu.id = id;
    def.u.fs_d.valid_min = kSliderMin;
    def.u.fs_d.slider_min = kSliderMin;
    def.u.fs_d.valid_max = max;
    def.u.fs_d.slider_max = max;
    def.u.fs_d.value = dflt;
    def.u.fs_d.dephault = static_cast<PF_FpShort>(dflt);
    def.u.fs_d.precision = precision;
    def.u.fs_d.display_flags = display_flags;
    def.u.fs_d.curve_tolerance = AEFX_AUDIO_DEFAULT_CURVE_TOLERANCE;
    return addParam(in_data, def);
}

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data) {
    PF_Err err = PF_Err_NONE;
    {
        PF_ParamDef def;
        AEFX_CLR_STRUCT(def);
        def.param_type = PF_Param_BUTTON;
        setName(def, UserTexts::kReconnectRowName);
        def.uu.id = DISK_ID_RECONNECT;
        def.flags = PF_ParamFlag_SUPERVISE;
        def.u.button_d.u.namesptr = UserTexts::kReconnectLabel;
        if ((err = addParam(in_data, def))) return err;
    }
    // Display flags 2 (pixel) and 0x200 are stored as the host has always received them.
    if ((err = addFloatSlider(in_data, "Connection Timestamp", DISK_ID_TIMESTAMP, kTimestampMax, 0.0,
                              PF_Precision_INTEGER, 2)))
        return err;
    if ((err = addFloatSlider(in_data, "Brightness", DISK_ID_BRIGHTNESS, kSliderMax, kSliderDefault,
                              PF_Precision_HUNDREDTHS, 0x200)))
        return err;
    if ((err = addFloatSlider(in_data, "Contrast", DISK_ID_CONTRAST, kSliderMax, kSliderDefault,
                              PF_Precision_HUNDREDTHS, 0x200)))
        return err;
    if ((err = addFloatSlider(in_data, "Saturation", DISK_ID_SATURATION, kSliderMax, kSliderDefault,
                              PF_Precision_HUNDREDTHS, 0x200)))
        return err;
    {
        PF_ParamDef def;
        AEFX_CLR_STRUCT(def);
        def.param_type = PF_Param_CHECKBOX;
        setName(def, "Enable Effect");
        def.uu.id = DISK_ID_ENABLE;
        def.u.bd.value = 1;
        def.u.bd.dephault = 1;
        def.u.bd.u.nameptr = "";
        if ((err = addParam(in_data, def))) return err;
    }
    {
        PF_ParamDef def;
        AEFX_CLR_STRUCT(def);
        def.param_type = PF_Param_POPUP;
        setName(def, "Type");
        def.uu.id = DISK_ID_TYPE;
        def.flags = PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN;
        def.u.pd.num_choices = kTypeChoiceCount;
        def.u.pd.dephault = 1;
        def.u.pd.value = 1;
        def.u.pd.u.namesptr = kTypeChoices;
        if ((err = addParam(in_data, def))) return err;
    }
    out_data->num_params = PARAM_COUNT;
    return PF_Err_NONE;
}

PF_Err GetParams(PF_InData* in_data, PF_OutData* /*out_data*/, PluginParams* params) {
    std::vector<PF_ParamDef> defs(PARAM_COUNT);
    std::vector<PF_ParamDef*> checked_out;
    // Everything checked out is checked back in, in order, on every path.
    ScopeGuard checkin([&] {
        for (PF_ParamDef* def : checked_out) in_data->inter.checkin_param(in_data->effect_ref, def);
        checked_out.clear();
    });
    for (A_long index = PARAM_RECONNECT; index < PARAM_COUNT; ++index) {
        PF_ParamDef& def = defs[index];
        AEFX_CLR_STRUCT(def);
        PF_Err err = in_data->inter.checkout_param(in_data->effect_ref, index, in_data->current_time,
                                                   in_data->time_step, in_data->time_scale, &def);
        if (err != PF_Err_NONE) return err;
        checked_out.push_back(&def);
    }
    const PF_ParamDef* values[PARAM_COUNT];
    for (A_long index = 0; index < PARAM_COUNT; ++index) values[index] = &defs[index];
    CopyParamValues(values, params);
    return PF_Err_NONE;
}

void CopyParamValues(const PF_ParamDef* const defs[], PluginParams* params) {
    params->brightness = static_cast<float>(defs[PARAM_BRIGHTNESS]->u.fs_d.value);
    params->contrast = static_cast<float>(defs[PARAM_CONTRAST]->u.fs_d.value);
    params->saturation = static_cast<float>(defs[PARAM_SATURATION]->u.fs_d.value);
    params->enable_effect = defs[PARAM_ENABLE]->u.bd.value != 0;
    params->type = defs[PARAM_TYPE]->u.pd.value;
}
