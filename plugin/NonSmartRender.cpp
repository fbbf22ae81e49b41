// PF_Cmd_RENDER, from a host without smart rendering: the input layer comes in
// params[0], the parameter values in the params array, the output world as
// the entry point's `output`. The frame then takes the same round trip as a
// smart render.
#include <sstream>
#include <string>

#include "AEFX_SuiteHelper.h"
#include "AE_EffectCBSuites.h"
#include "Commands.h"
#include "Logging.h"
#include "Params.h"
#include "Render.h"
#include "UserTexts.h"

namespace {

// The four characters of a pixel format code, printable ones only.
std::string formatText(PF_PixelFormat format) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = static_cast<char>((static_cast<A_u_long>(format) >> shift) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

// Bits per channel of a world handed with PF_Cmd_RENDER: 16 when it is marked
// deep, else 8, provided the host's pixel format says the same. A world in
// any other format (a float world, a host's own layout) gives 0: its pixels
// can't be read as the flag says. `format` receives the host's answer.
int depthOf(const PF_WorldSuite2* worlds, const PF_LayerDef* world, PF_PixelFormat* format) {
    *format = 0;
    if (worlds->PF_GetPixelFormat(world, format) != PF_Err_NONE) return 0;
    const bool deep = PF_WORLD_IS_DEEP(world);
    const PF_PixelFormat flagged = deep ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB32;
    if (*format != flagged) return 0;
    return deep ? 16 : 8;
}

void logLine(const globalData* global, const std::string& text) {
    std::stringstream line;
    line << UserTexts::kNonSmartRenderErrorPrefix << text;
    spdlog_log(std::move(line), global->log_path);
}

// Acquires the world suite through the suite helper and releases it with it.
struct WorldSuite {
    PF_InData* in_data;
    PF_OutData* out_data;
    const PF_WorldSuite2* suite = nullptr;
    PF_Err err = PF_Err_NONE;
    WorldSuite(PF_InData* in, PF_OutData* out) : in_data(in), out_data(out) {
        void* acquired = nullptr;
        err = AEFX_AcquireSuite(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2, UserTexts::kCantLoadSuite,
                                &acquired);
        suite = static_cast<const PF_WorldSuite2*>(acquired);
    }
    ~WorldSuite() {
        if (!err)
            AEFX_ReleaseSuite(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2, UserTexts::kCantReleaseSuite);
    }
    WorldSuite(const WorldSuite&) = delete;
    WorldSuite& operator=(const WorldSuite&) = delete;
};

bool hasParams(const PF_InData* in_data, PF_ParamDef* params[]) {
    if (!params || in_data->num_params < PARAM_COUNT) return false;
    for (A_long index = 0; index < PARAM_COUNT; ++index)
        if (!params[index]) return false;
    return true;
}

}  // namespace

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output) {
    // Without an output world the host asks for no frame: nothing to write.
    if (!output) return PF_Err_NONE;
    if (!hasParams(in_data, params) || !params[PARAM_INPUT]->u.ld.data || !output->data)
        return PF_Err_BAD_CALLBACK_PARAM;
    globalData* global = GlobalOf(out_data);
    PF_LayerDef* input = &params[PARAM_INPUT]->u.ld;
    if (input->width != output->width || input->height != output->height) {
        std::ostringstream text;
        text << "the output world is " << output->width << "x" << output->height << " but the input layer is "
             << input->width << "x" << input->height;
        logLine(global, text.str());
        return PF_Err_BAD_CALLBACK_PARAM;
    }

    WorldSuite worlds(in_data, out_data);
    if (worlds.err) return worlds.err;
    PF_PixelFormat input_format = 0, output_format = 0;
    const int depth = depthOf(worlds.suite, input, &input_format);
    const int output_depth = depthOf(worlds.suite, output, &output_format);
    if (depth == 0 || output_depth != depth) {
        // Float frames and a host's own pixel layouts reach an effect only
        // through smart rendering: the frame is passed on as the host gave it.
        logLine(global, "a frame in pixel format '" + formatText(input_format) + "' (output '" +
                            formatText(output_format) + "')" + UserTexts::kPassedOnUnchanged);
        return in_data->utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);
    }

    PluginParams values{};
    CopyParamValues(params, &values);
    return UniversalRender(in_data, input, out_data, output, &values, depth, global);
}
