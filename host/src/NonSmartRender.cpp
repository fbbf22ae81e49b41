// A frame rendered the way a host without smart rendering does it: frame
// setup, render and frame setdown, the input layer in params[0], the
// parameter values in the params array, the output world as EffectMain's
// `output`.
#include <vector>

#include "HostImpl.h"

namespace TEV::Host {

namespace {

// The params array of one command: the instance's values at the frame (change
// flags cleared), params[0] the input layer holding the frame's world record.
// Each command gets its own copy, so a plug-in that writes into one cannot
// change what the next command sees.
struct FrameParams {
    std::vector<PF_ParamDef> defs;
    std::vector<PF_ParamDef*> pointers;
    FrameParams(const Instance& inst, const PixelWorld& input) {
        {
            std::lock_guard<std::mutex> lock(inst.mutex);
            defs = inst.values;
        }
        for (PF_ParamDef& d : defs) {
            d.uu.change_flags = PF_ChangeFlag_NONE;
            pointers.push_back(&d);
        }
        // A copy of the record: the pixels stay the host's, and the record
        // is not marked writeable.
        defs.at(0).u.ld = *input.world();
    }
    PF_ParamDef** list() { return pointers.data(); }
};

}  // namespace

RenderResult HeadlessHost::Impl::renderNonSmart(Instance& inst, Frame& frame) {
    PF_EffectWorld* output = frame.output.world();
    RenderResult result;

    FrameParams setup_params(inst, *frame.input);
    PF_OutData setup_out{};
    result.pre_render =
        dispatch(PF_Cmd_FRAME_SETUP, &inst, setup_params.list(), nullptr, &frame, &setup_out, output);
    if (!result.pre_render.ok()) {
        // No setdown follows a failed setup; frame data it left is the plug-in's leak.
        return result;
    }
    frame.frame_data = setup_out.frame_data;
    books.with([](Books& b) { ++b.frames_set_up; });

    FrameParams render_params(inst, *frame.input);
    PF_OutData render_out{};
    render_out.frame_data = frame.frame_data;
    result.render = dispatch(PF_Cmd_RENDER, &inst, render_params.list(), nullptr, &frame, &render_out, output);
    frame.frame_data = render_out.frame_data;

    // Setdown follows every successful setup, so that frame data can be freed.
    FrameParams setdown_params(inst, *frame.input);
    PF_OutData setdown_out{};
    setdown_out.frame_data = frame.frame_data;
    result.setdown =
        dispatch(PF_Cmd_FRAME_SETDOWN, &inst, setdown_params.list(), nullptr, &frame, &setdown_out, output);
    books.with([](Books& b) { ++b.frames_set_down; });
    return result;
}

}  // namespace TEV::Host
