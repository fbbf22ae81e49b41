// A small effect that uses every suite and callback the headless host offers,
// so that tests can drive it through the host and check the books.
//
// Parameters: 1 "Reset" (button), 2 "Gain" (float 0..4), 3 "Invert"
// (checkbox), 4 "Mode" (popup), 5 "Stamp" (float, hidden by UPDATE_PARAMS_UI).
// Render: output = input × gain (inverted when asked) through the iterate
// suite of the frame's depth; "Count visits" instead counts visits in alpha
// and writes x and y into red and green.
//
// Built twice: as test_effect, and with TEST_EFFECT_LEAKY as leaky_effect,
// which forgets one thing of every kind the host keeps books of.
#include <atomic>
#include <cstring>
#include <stdexcept>

#include "AEFX_SuiteHandlerTemplate.h"
#include "AEFX_SuiteHelper.h"
#include "AEGP_SuiteHandler.h"
#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"
#include "AE_Macros.h"
#include "AE_PluginData.h"
#include "Param_Utils.h"
#include "Smart_Utils.h"
#include "entry.h"

namespace {

enum { kReset = 1, kGain, kInvert, kMode, kStamp, kNumParams };
enum { kModeCopy = 1, kModeCount, kModeThrow, kModeFail };

#ifdef TEST_EFFECT_LEAKY
constexpr bool kLeaky = true;
#else
constexpr bool kLeaky = false;
#endif

struct GlobalData {
    AEGP_PluginID aegp_id;
    char greeting[64];
};

struct FrameParams {
    float gain;
    bool invert;
    A_long mode;
};

// The delete callback gets no in_data: global setup keeps the host's dispose function.
std::atomic<void (*)(PF_Handle)> g_dispose{nullptr};

void deleteFrameParams(void* pre_render_data) {
    if (auto dispose = g_dispose.load()) {
        dispose(static_cast<PF_Handle>(pre_render_data));
    }
}

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
    out_data->my_version = PF_VERSION(1, 0, 0, PF_Stage_DEVELOP, 1);
    const void* ui = nullptr;
    if (in_data->pica_basicP->AcquireSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1, &ui) == kSPNoError && ui) {
        static_cast<const PF_EffectUISuite1*>(ui)->PF_SetOptionsButtonName(in_data->effect_ref, "Options");
        if (!kLeaky) {
            in_data->pica_basicP->ReleaseSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1);
        }
    }
    out_data->out_flags = PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_SEND_UPDATE_PARAMS_UI | PF_OutFlag_PIX_INDEPENDENT;
    out_data->out_flags2 |= PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE |
                            PF_OutFlag2_SUPPORTS_THREADED_RENDERING;
    g_dispose = in_data->utils->host_dispose_handle;

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_Handle h = suites.HandleSuite1()->host_new_handle(sizeof(GlobalData));
    if (!h) {
        return PF_Err_OUT_OF_MEMORY;
    }
    auto* global = static_cast<GlobalData*>(suites.HandleSuite1()->host_lock_handle(h));
    std::memset(global, 0, sizeof(*global));
    out_data->global_data = h;
    suites.UtilitySuite5()->AEGP_RegisterWithAEGP(nullptr, "TestEffect", &global->aegp_id);

    AEGP_PersistentBlobH blob = nullptr;
    if (suites.PersistentDataSuite3()->AEGP_GetApplicationBlob(&blob) == A_Err_NONE) {
        suites.PersistentDataSuite3()->AEGP_GetString(blob, "TestEffect", "greeting", "hello",
                                                      sizeof(global->greeting), global->greeting, nullptr);
        char visits[32];
        PF_SPRINTF(visits, "%s, %d", global->greeting, 1);
        suites.PersistentDataSuite3()->AEGP_SetString(blob, "TestEffect", "seen", visits);
    }
    return PF_Err_NONE;
}

PF_Err GlobalSetdown(PF_InData* in_data) {
    if (in_data->global_data && !kLeaky) {
        AEGP_SuiteHandler suites(in_data->pica_basicP);
        suites.HandleSuite1()->host_dispose_handle(in_data->global_data);
    }
    return PF_Err_NONE;
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data) {
    PF_ParamDef def;
    AEFX_CLR_STRUCT(def);
    PF_ADD_BUTTON("Reset", "Reset gain", 0, PF_ParamFlag_SUPERVISE, 11);
    PF_ADD_FLOAT_SLIDERX("Gain", 0, 4, 0, 4, 1, PF_Precision_HUNDREDTHS, 0, 0, 12);
    PF_ADD_CHECKBOXX("Invert", 0, 0, 13);
    PF_ADD_POPUPX("Mode", 4, kModeCopy, "Copy|Count visits|Throw in pixel function|Fail render", 0, 14);
    PF_ADD_FLOAT_SLIDERX("Stamp", 0, 1000, 0, 1000, 0, PF_Precision_INTEGER, 0, 0, 15);
    out_data->num_params = kNumParams;
    return PF_Err_NONE;
}

PF_Err SequenceSetup(PF_InData* in_data, PF_OutData* out_data) {
    static std::atomic<int> counter{0};
    PF_Handle h = PF_NEW_HANDLE(64);
    if (!h) {
        return PF_Err_OUT_OF_MEMORY;
    }
    char* text = static_cast<char*>(PF_LOCK_HANDLE(h));
    PF_SPRINTF(text, "instance-%d", ++counter);
    PF_UNLOCK_HANDLE(h);
    out_data->sequence_data = h;
    return PF_Err_NONE;
}

PF_Err SequenceSetdown(PF_InData* in_data, PF_OutData* out_data) {
    if (in_data->sequence_data && !kLeaky) {
        PF_DISPOSE_HANDLE(in_data->sequence_data);
        out_data->sequence_data = nullptr;
    }
    return PF_Err_NONE;
}

// The instance's text, read through the const sequence-data suite (throws 13 when missing).
void ReadInstanceText(PF_InData* in_data, PF_OutData* out_data, char* text, std::size_t size) {
    AEFX_SuiteScoper<PF_EffectSequenceDataSuite1> seq(in_data, kPFEffectSequenceDataSuite,
                                                       kPFEffectSequenceDataSuiteVersion1, out_data);
    PF_ConstHandle h = nullptr;
    text[0] = 0;
    if (seq->PF_GetConstSequenceData(in_data->effect_ref, &h) == PF_Err_NONE && h) {
        PF_Handle handle = (PF_Handle)h;  // the suite hands out a const view of the handle
        const char* data = static_cast<const char*>(PF_LOCK_HANDLE(handle));
        std::strncpy(text, data, size - 1);
        text[size - 1] = 0;
        PF_UNLOCK_HANDLE(handle);
    }
}

PF_Err UserChangedParam(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                        const PF_UserChangedParamExtra* extra) {
    auto* global = reinterpret_cast<GlobalData*>(*in_data->global_data);
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    AEGP_EffectRefH effect = nullptr;
    PF_Err err = suites.PFInterfaceSuite1()->AEGP_GetNewEffectForEffect(global->aegp_id, in_data->effect_ref, &effect);
    char text[64];
    ReadInstanceText(in_data, out_data, text, sizeof(text));
    if (extra->param_index == kReset) {
        params[kGain]->u.fs_d.value = 1.0;
        params[kGain]->uu.change_flags = PF_ChangeFlag_CHANGED_VALUE;
        params[kStamp]->u.fs_d.value = static_cast<PF_FpLong>(std::strlen(text));
        params[kStamp]->uu.change_flags = PF_ChangeFlag_CHANGED_VALUE;
    }
    if (effect) {
        suites.EffectSuite2()->AEGP_DisposeEffect(effect);
    }
    return err;
}

PF_Err UpdateParamsUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]) {
    auto* global = reinterpret_cast<GlobalData*>(*in_data->global_data);
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    AEGP_EffectRefH effect = nullptr;
    suites.PFInterfaceSuite1()->AEGP_GetNewEffectForEffect(global->aegp_id, in_data->effect_ref, &effect);
    AEGP_StreamRefH stream = nullptr;
    if (suites.StreamSuite2()->AEGP_GetNewEffectStreamByIndex(global->aegp_id, effect, kStamp, &stream) ==
            A_Err_NONE && stream) {
        suites.DynamicStreamSuite2()->AEGP_SetDynamicStreamFlag(stream, AEGP_DynStreamFlag_HIDDEN, false, true);
        if (!kLeaky) {
            suites.StreamSuite2()->AEGP_DisposeStream(stream);
        }
    }
    AEGP_StreamRefH gain = nullptr;
    if (suites.StreamSuite5()->AEGP_GetNewEffectStreamByIndex(global->aegp_id, effect, kGain, &gain) == A_Err_NONE) {
        AEGP_StreamValue2 value;
        A_Time now{in_data->current_time, in_data->time_scale};
        if (suites.StreamSuite5()->AEGP_GetNewStreamValue(global->aegp_id, gain, AEGP_LTimeMode_LayerTime, &now,
                                                          false, &value) == A_Err_NONE) {
            suites.StreamSuite5()->AEGP_DisposeStreamValue(&value);
        }
        suites.StreamSuite5()->AEGP_DisposeStream(gain);
    }
    // "Invert" is only meaningful while copying.
    PF_ParamDef invert = *params[kInvert];
    if (params[kMode]->u.pd.value == kModeCopy) {
        invert.ui_flags &= ~PF_PUI_DISABLED;
    } else {
        invert.ui_flags |= PF_PUI_DISABLED;
    }
    PF_Err err = suites.ParamUtilsSuite3()->PF_UpdateParamUI(in_data->effect_ref, kInvert, &invert);
    out_data->out_flags |= PF_OutFlag_REFRESH_UI;
    if (effect) {
        suites.EffectSuite2()->AEGP_DisposeEffect(effect);
    }
    return err;
}

PF_Err SmartPreRender(PF_InData* in_data, PF_PreRenderExtra* extra) {
    PF_RenderRequest request = extra->input->output_request;
    request.channel_mask = PF_ChannelMask_ARGB;
    PF_CheckoutResult checkout;
    AEFX_CLR_STRUCT(checkout);
    PF_Err err = extra->cb->checkout_layer(in_data->effect_ref, 0, 0, &request, in_data->current_time,
                                           in_data->time_step, in_data->time_scale, &checkout);
    if (err) {
        return err;
    }
    UnionLRect(&checkout.result_rect, &extra->output->result_rect);
    UnionLRect(&checkout.max_result_rect, &extra->output->max_result_rect);

    PF_ParamDef defs[kNumParams];
    int checked_out = 0;
    for (int i = kGain; i <= kMode; ++i) {
        AEFX_CLR_STRUCT(defs[i]);
        err = PF_CHECKOUT_PARAM(in_data, i, in_data->current_time, in_data->time_step, in_data->time_scale, &defs[i]);
        if (err) {
            break;
        }
        checked_out = i;
    }
    FrameParams params{};
    if (!err) {
        params.gain = static_cast<float>(defs[kGain].u.fs_d.value);
        params.invert = defs[kInvert].u.bd.value != 0;
        params.mode = defs[kMode].u.pd.value;
    }
    int last = kLeaky ? checked_out - 1 : checked_out;
    for (int i = kGain; i <= last; ++i) {
        PF_CHECKIN_PARAM(in_data, &defs[i]);
    }
    if (err) {
        return err;
    }
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_Handle h = suites.HandleSuite1()->host_new_handle(sizeof(FrameParams));
    if (!h) {
        return PF_Err_OUT_OF_MEMORY;
    }
    std::memcpy(suites.HandleSuite1()->host_lock_handle(h), &params, sizeof(params));
    suites.HandleSuite1()->host_unlock_handle(h);
    extra->output->pre_render_data = h;
    if (!kLeaky) {
        extra->output->delete_pre_render_data_func = &deleteFrameParams;
    }
    return PF_Err_NONE;
}

template <typename Pixel> struct Chan;
template <> struct Chan<PF_Pixel8> {
    using T = A_u_char;
    static constexpr float kMax = PF_MAX_CHAN8;
    static T coordinate(A_long v) { return static_cast<T>(v % 256); }
};
template <> struct Chan<PF_Pixel16> {
    using T = A_u_short;
    static constexpr float kMax = PF_MAX_CHAN16;
    static T coordinate(A_long v) { return static_cast<T>(v); }
};
template <> struct Chan<PF_PixelFloat> {
    using T = PF_FpShort;
    static constexpr float kMax = 1.0f;
    static T coordinate(A_long v) { return static_cast<T>(v); }
};

template <typename Pixel>
typename Chan<Pixel>::T scaled(typename Chan<Pixel>::T v, const FrameParams& p) {
    float out = static_cast<float>(v) * p.gain;
    if (p.invert) {
        out = Chan<Pixel>::kMax - out;
    }
    if (Chan<Pixel>::kMax > 1.0f) {
        out = out < 0 ? 0 : out > Chan<Pixel>::kMax ? Chan<Pixel>::kMax : out + 0.5f;
    }
    return static_cast<typename Chan<Pixel>::T>(out);
}

template <typename Pixel>
PF_Err RenderPixel(void* refcon, A_long x, A_long y, Pixel* in, Pixel* out) {
    const FrameParams& p = *static_cast<const FrameParams*>(refcon);
    if (p.mode == kModeCount) {
        out->alpha = static_cast<typename Chan<Pixel>::T>(out->alpha + 1);
        out->red = Chan<Pixel>::coordinate(x);
        out->green = Chan<Pixel>::coordinate(y);
        return PF_Err_NONE;
    }
    if (p.mode == kModeThrow && x == 3 && y == 2) {
        throw std::runtime_error("pixel function failed");
    }
    out->alpha = in->alpha;
    out->red = scaled<Pixel>(in->red, p);
    out->green = scaled<Pixel>(in->green, p);
    out->blue = scaled<Pixel>(in->blue, p);
    return PF_Err_NONE;
}

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    void* world_suite = nullptr;
    PF_Err err = AEFX_AcquireSuite(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2, "Couldn't load suite.",
                                   &world_suite);
    if (err) {
        return err;
    }
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_Handle h = static_cast<PF_Handle>(extra->input->pre_render_data);
    const auto* params = h ? static_cast<const FrameParams*>(suites.HandleSuite1()->host_lock_handle(h)) : nullptr;
    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = nullptr;
    if (!params) {
        err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    ERR(extra->cb->checkout_layer_pixels(in_data->effect_ref, 0, &input));
    ERR(extra->cb->checkout_output(in_data->effect_ref, &output));
    if (!err && params->mode == kModeFail) {
        err = PF_Err_OUT_OF_MEMORY;
    }
    char text[64];
    if (!err) {
        ReadInstanceText(in_data, out_data, text, sizeof(text));
        err = PF_PROGRESS(in_data, 0, 1);
    }
    ERR(PF_ABORT(in_data));
    if (!err) {
        FrameParams copy = *params;
        switch (extra->input->bitdepth) {
        case 8:
            err = suites.Iterate8Suite1()->iterate(in_data, 0, output->height, input, nullptr, &copy,
                                                   &RenderPixel<PF_Pixel8>, output);
            break;
        case 16:
            err = suites.Iterate16Suite1()->iterate(in_data, 0, output->height, input, nullptr, &copy,
                                                    &RenderPixel<PF_Pixel16>, output);
            break;
        case 32:
            err = suites.IterateFloatSuite1()->iterate(in_data, 0, output->height, input, nullptr, &copy,
                                                       &RenderPixel<PF_PixelFloat>, output);
            break;
        default:
            err = PF_Err_BAD_CALLBACK_PARAM;
        }
    }
    if (input) {
        extra->cb->checkin_layer_pixels(in_data->effect_ref, 0);
    }
    if (params) {
        suites.HandleSuite1()->host_unlock_handle(h);
    }
    AEFX_ReleaseSuite(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2, nullptr);
    return err;
}

// Without smart rendering: frame setup keeps the frame's values (from the
// params array) in frame data, render processes params[0] into `output` at
// the depth the host's pixel format names, frame setdown frees the frame data
// (the leaky effect forgets to).
PF_Err FrameSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_Handle h = suites.HandleSuite1()->host_new_handle(sizeof(FrameParams));
    if (!h) {
        return PF_Err_OUT_OF_MEMORY;
    }
    FrameParams values{static_cast<float>(params[kGain]->u.fs_d.value), params[kInvert]->u.bd.value != 0,
                       params[kMode]->u.pd.value};
    std::memcpy(suites.HandleSuite1()->host_lock_handle(h), &values, sizeof(values));
    suites.HandleSuite1()->host_unlock_handle(h);
    out_data->frame_data = h;
    return PF_Err_NONE;
}

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_EffectWorld* output) {
    if (!in_data->frame_data || !output || !params[0]->u.ld.data) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    AEFX_SuiteScoper<PF_WorldSuite2> worlds(in_data, kPFWorldSuite, kPFWorldSuiteVersion2, out_data);
    PF_EffectWorld* input = &params[0]->u.ld;
    PF_PixelFormat format = 0;
    PF_Err err = worlds->PF_GetPixelFormat(input, &format);
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    FrameParams values = *static_cast<const FrameParams*>(suites.HandleSuite1()->host_lock_handle(in_data->frame_data));
    suites.HandleSuite1()->host_unlock_handle(in_data->frame_data);
    if (!err && values.mode == kModeFail) {
        err = PF_Err_OUT_OF_MEMORY;
    }
    if (!err) {
        switch (format) {
        case PF_PixelFormat_ARGB32:
            err = suites.Iterate8Suite1()->iterate(in_data, 0, output->height, input, nullptr, &values,
                                                   &RenderPixel<PF_Pixel8>, output);
            break;
        case PF_PixelFormat_ARGB64:
            err = suites.Iterate16Suite1()->iterate(in_data, 0, output->height, input, nullptr, &values,
                                                    &RenderPixel<PF_Pixel16>, output);
            break;
        default:
            err = PF_Err_BAD_CALLBACK_PARAM;
        }
    }
    return err;
}

PF_Err FrameSetdown(PF_InData* in_data) {
    if (!kLeaky && in_data->frame_data) {
        AEGP_SuiteHandler suites(in_data->pica_basicP);
        suites.HandleSuite1()->host_dispose_handle(in_data->frame_data);
    }
    return PF_Err_NONE;
}

// The options dialog: the remaining helpers (Drawbot set, generic iteration, basic-suite blocks).
PF_Err DoDialog(PF_InData* in_data, PF_OutData* out_data) {
    {
        AEFX_DrawbotSuitesScoper drawbot(in_data, out_data);
        if (!drawbot.Get()->drawbot_suiteP || !drawbot.Get()->path_suiteP) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
    }
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    static std::atomic<int> sum{0};
    sum = 0;
    PF_Err err = suites.Iterate8Suite1()->iterate_generic(
        10, &sum, [](void* refcon, A_long, A_long i, A_long) -> PF_Err {
            *static_cast<std::atomic<int>*>(refcon) += i;
            return PF_Err_NONE;
        });
    if (!err && sum != 45) {
        err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    void* block = nullptr;
    if (!err && in_data->pica_basicP->AllocateBlock(16, &block) == kSPNoError) {
        in_data->pica_basicP->FreeBlock(block);
    }
    // Echoes what the host filled in, for tests to read from return_msg.
    const A_long app = in_data->appl_id;
    PF_SPRINTF(out_data->return_msg, "%c%c%c%c %d.%d downsample %d/%u par %d/%u", char(app >> 24), char(app >> 16),
               char(app >> 8), char(app), in_data->version.major, in_data->version.minor,
               in_data->downsample_x.num, in_data->downsample_x.den, in_data->pixel_aspect_ratio.num,
               in_data->pixel_aspect_ratio.den);
    return err;
}

}  // namespace

extern "C" DllExport PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                       PF_LayerDef* output, void* extra) {
    try {
        switch (cmd) {
        case PF_Cmd_GLOBAL_SETUP: return GlobalSetup(in_data, out_data);
        case PF_Cmd_GLOBAL_SETDOWN: return GlobalSetdown(in_data);
        case PF_Cmd_PARAMS_SETUP: return ParamsSetup(in_data, out_data);
        case PF_Cmd_SEQUENCE_SETUP:
        case PF_Cmd_SEQUENCE_RESETUP: return SequenceSetup(in_data, out_data);
        case PF_Cmd_SEQUENCE_SETDOWN: return SequenceSetdown(in_data, out_data);
        case PF_Cmd_USER_CHANGED_PARAM:
            return UserChangedParam(in_data, out_data, params, static_cast<PF_UserChangedParamExtra*>(extra));
        case PF_Cmd_UPDATE_PARAMS_UI: return UpdateParamsUI(in_data, out_data, params);
        case PF_Cmd_SMART_PRE_RENDER: return SmartPreRender(in_data, static_cast<PF_PreRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER: return SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
        case PF_Cmd_DO_DIALOG: return DoDialog(in_data, out_data);
        case PF_Cmd_FRAME_SETUP: return FrameSetup(in_data, out_data, params);
        case PF_Cmd_RENDER: return Render(in_data, out_data, params, output);
        case PF_Cmd_FRAME_SETDOWN: return FrameSetdown(in_data);
        default: return PF_Err_NONE;
        }
    } catch (PF_Err thrown) {
        return thrown;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

extern "C" DllExport A_Err PluginDataEntryFunction2(PF_PluginDataPtr inPtr, PF_PluginDataCB2 inPluginDataCallBackPtr,
                                                    SPBasicSuite*, const char*, const char*) {
    A_Err result = A_Err_NONE;
    PF_REGISTER_EFFECT_EXT2(inPtr, inPluginDataCallBackPtr, "Test Effect", "TEV TestEffect", "Test",
                            AE_RESERVED_INFO, "EffectMain", "");
    return result;
}
