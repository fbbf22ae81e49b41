#include "tevhost/HostError.h"

#include "tevhost/HeadlessHost.h"

namespace TEV::Host {

std::string commandName(PF_Cmd cmd) {
    static const char* const kNames[] = {
        "PF_Cmd_ABOUT", "PF_Cmd_GLOBAL_SETUP", "PF_Cmd_UNUSED_0", "PF_Cmd_GLOBAL_SETDOWN",
        "PF_Cmd_PARAMS_SETUP", "PF_Cmd_SEQUENCE_SETUP", "PF_Cmd_SEQUENCE_RESETUP",
        "PF_Cmd_SEQUENCE_FLATTEN", "PF_Cmd_SEQUENCE_SETDOWN", "PF_Cmd_DO_DIALOG", "PF_Cmd_FRAME_SETUP",
        "PF_Cmd_RENDER", "PF_Cmd_FRAME_SETDOWN", "PF_Cmd_USER_CHANGED_PARAM", "PF_Cmd_UPDATE_PARAMS_UI",
        "PF_Cmd_EVENT", "PF_Cmd_GET_EXTERNAL_DEPENDENCIES", "PF_Cmd_COMPLETELY_GENERAL",
        "PF_Cmd_QUERY_DYNAMIC_FLAGS", "PF_Cmd_AUDIO_RENDER", "PF_Cmd_AUDIO_SETUP", "PF_Cmd_AUDIO_SETDOWN",
        "PF_Cmd_ARBITRARY_CALLBACK", "PF_Cmd_SMART_PRE_RENDER", "PF_Cmd_SMART_RENDER", "PF_Cmd_RESERVED1",
        "PF_Cmd_RESERVED2", "PF_Cmd_RESERVED3", "PF_Cmd_GET_FLATTENED_SEQUENCE_DATA",
        "PF_Cmd_TRANSLATE_PARAMS_TO_PREFS", "PF_Cmd_RESERVED4", "PF_Cmd_SMART_RENDER_GPU",
        "PF_Cmd_GPU_DEVICE_SETUP", "PF_Cmd_GPU_DEVICE_SETDOWN"};
    if (cmd >= 0 && cmd < PF_Cmd_NUM_CMDS) {
        return kNames[cmd];
    }
    return "PF_Cmd " + std::to_string(cmd);
}

std::string errorName(PF_Err err) {
    switch (err) {
    case PF_Err_NONE: return "PF_Err_NONE";
    case PF_Err_OUT_OF_MEMORY: return "PF_Err_OUT_OF_MEMORY";
    case A_Err_MISSING_SUITE: return "A_Err_MISSING_SUITE";
    case PF_Err_INTERNAL_STRUCT_DAMAGED: return "PF_Err_INTERNAL_STRUCT_DAMAGED";
    case PF_Err_INVALID_INDEX: return "PF_Err_INVALID_INDEX";
    case PF_Err_UNRECOGNIZED_PARAM_TYPE: return "PF_Err_UNRECOGNIZED_PARAM_TYPE";
    case PF_Err_INVALID_CALLBACK: return "PF_Err_INVALID_CALLBACK";
    case PF_Err_BAD_CALLBACK_PARAM: return "PF_Err_BAD_CALLBACK_PARAM";
    case PF_Interrupt_CANCEL: return "PF_Interrupt_CANCEL";
    case PF_Err_CANNOT_PARSE_KEYFRAME_TEXT: return "PF_Err_CANNOT_PARSE_KEYFRAME_TEXT";
    default: return "";
    }
}

std::string CommandResult::describe() const {
    std::string text = commandName(command) + " (" + std::to_string(command) + ")";
    if (ok()) {
        return text + " succeeded";
    }
    text += " failed with error " + std::to_string(err);
    std::string name = errorName(err);
    if (!name.empty()) {
        text += " (" + name + ")";
    }
    if (!return_msg.empty()) {
        text += ": " + return_msg;
    }
    return text;
}

const CommandResult& CommandResult::expectOk() const {
    if (!ok()) {
        throw HostError(describe(), err);
    }
    return *this;
}

PF_Err RenderResult::err() const {
    if (!pre_render.ok()) {
        return pre_render.err;
    }
    if (!render.ok()) {
        return render.err;
    }
    return setdown.err;
}

}  // namespace TEV::Host
