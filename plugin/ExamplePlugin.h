// The effect's one exported function: the host calls it with every command.
#pragma once

#include "AE_Effect.h"
#include "entry.h"

extern "C" {

// Dispatches one host command. Never throws: a thrown PF_Err becomes the
// result, any other exception PF_Err_INTERNAL_STRUCT_DAMAGED (512).
DllExport PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                            PF_ParamDef* params[], PF_LayerDef* output, void* extra);
}
