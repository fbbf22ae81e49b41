// The render bridge: one frame from the input world to the server and back.
#pragma once

#include "AE_Effect.h"
#include "PluginState.h"

// Renders one frame: copies `input` into an image, sends it with the frame's
// parameters and the instance id to the server as the plug-in method
// "render", and copies the result image into `output`. A down server, a
// server-reported error, a failed exchange or a result that does not fit the
// output is drawn as a three-line message onto a copy of the input frame
// instead (and logged, except for the known-down case); the host then still
// sees success. Returns 517 when the user cancelled (output untouched), or
// the error of a failed host call (then the message was not copied either).
// A bit depth other than 8, 16 or 32 throws std::runtime_error("Unsupported
// bit depth"). Whether the server is known to be down is decided once any
// other thread's exchange (which may be launching it) has ended.
PF_Err UniversalRender(PF_InData* in_data, PF_LayerDef* input, PF_OutData* out_data, PF_LayerDef* output,
                       PluginParams* params, int bit_depth, globalData* global);
