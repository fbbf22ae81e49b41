// Handlers of the host commands that EffectMain dispatches. Each returns the
// command's result; a missing suite is thrown as a PF_Err and mapped by
// EffectMain.
#pragma once

#include <string>

#include "AE_Effect.h"
#include "PluginState.h"

// PF_Cmd_GLOBAL_SETUP: version and flags, the global record, the log path,
// the client, the welcome lines and the AEGP registration (skipped in a host
// without the AEGP suites).
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data);

// PF_Cmd_GLOBAL_SETDOWN: destroys the clients and frees the global record.
PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData* out_data);

// PF_Cmd_SEQUENCE_SETUP and PF_Cmd_SEQUENCE_RESETUP: a new 255-byte block
// holding a fresh instance id. Failures are logged; the command still succeeds.
PF_Err SequenceSetup(PF_InData* in_data, PF_OutData* out_data);

// PF_Cmd_SMART_PRE_RENDER: checks the input out, merges its rectangles and
// hands the frame's parameter values to the host as pre-render data (freed by
// the host through the delete callback).
PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);

// PF_Cmd_SMART_RENDER: checks the worlds out and runs UniversalRender.
PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

// PF_Cmd_RENDER, which only a host without smart rendering sends: runs
// UniversalRender on the input layer in params[0] and `output`, with the
// values of the params array (nothing is checked out), at 8 bits or at 16
// where the worlds are marked deep. A frame in any other pixel format (float)
// is copied to the output unchanged with a log line. No output world: 0 and
// nothing done; a params array without the effect's parameters, a layer
// without pixels: PF_Err_BAD_CALLBACK_PARAM; worlds of different sizes: the
// same, with a log line.
PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output);

// The host tag of the identification line: "ae" or "premiere" (or nothing)
// followed by the effect-API major version.
std::string appid(PF_InData* in_data);
