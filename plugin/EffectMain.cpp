// The entry point: one host command per call, every failure mapped to a host
// error code.
#include "ExamplePlugin.h"

#include "AEGP_SuiteHandler.h"
#include "Commands.h"
#include "Params.h"

namespace {

PF_Err dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
               void* extra) {
    // Commands after global setup need the global record.
    auto needsGlobal = [&]() { return GlobalOf(out_data) != nullptr; };
    switch (cmd) {
        case PF_Cmd_GLOBAL_SETUP:
            return GlobalSetup(in_data, out_data);
        case PF_Cmd_GLOBAL_SETDOWN:
            return GlobalSetdown(in_data, out_data);
        case PF_Cmd_PARAMS_SETUP:
            return ParamsSetup(in_data, out_data);
        case PF_Cmd_SEQUENCE_SETUP:
        case PF_Cmd_SEQUENCE_RESETUP:
            if (!needsGlobal()) return PF_Err_INTERNAL_STRUCT_DAMAGED;
            return SequenceSetup(in_data, out_data);
        case PF_Cmd_USER_CHANGED_PARAM:
            if (!needsGlobal()) return PF_Err_INTERNAL_STRUCT_DAMAGED;
            return UserChangedParam(in_data, out_data, params,
                                    static_cast<const PF_UserChangedParamExtra*>(extra));
        case PF_Cmd_UPDATE_PARAMS_UI:
            if (!needsGlobal()) return PF_Err_INTERNAL_STRUCT_DAMAGED;
            return UpdateParamsUI(in_data, out_data, params);
        case PF_Cmd_SMART_PRE_RENDER:
            return SmartPreRender(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER:
            if (!needsGlobal()) return PF_Err_INTERNAL_STRUCT_DAMAGED;
            return SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
        case PF_Cmd_FRAME_SETUP:
        case PF_Cmd_FRAME_SETDOWN:
            // A host without smart rendering brackets PF_Cmd_RENDER with these;
            // the frame needs nothing set up.
            return PF_Err_NONE;
        case PF_Cmd_RENDER:
            // Only a host without smart rendering sends it.
            if (!needsGlobal()) return PF_Err_INTERNAL_STRUCT_DAMAGED;
            return Render(in_data, out_data, params, output);
        default:
            // No about box, no dialog.
            return PF_Err_NONE;
    }
}

}  // namespace

extern "C" DllExport PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                       PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    if (!in_data || !out_data) return PF_Err_BAD_CALLBACK_PARAM;
    try {
        // Every suite the handlers acquire is released before this returns.
        AEGP_SuiteHandler suites(in_data->pica_basicP);
        return dispatch(cmd, in_data, out_data, params, output, extra);
    } catch (PF_Err thrown) {
        return thrown;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}
