// The fault shim: an effect module that the headless host loads in place of
// ExamplePlugin. It forwards every command to the real plug-in and, where a
// test asks for it, changes what the plug-in sees the way a different host
// would: a parameter check-out that fails, an odd bit depth, another
// application id, flags preset in the output record, or a sequence setup that
// never reaches the plug-in (an instance left without sequence data).
#pragma once

#include "AE_Effect.h"

extern "C" {

struct FaultShimConfig {
    // Smart pre-render: the check-out of this parameter index fails with
    // `checkout_error` (0: no failure).
    A_long fail_checkout_index = 0;
    PF_Err checkout_error = PF_Err_NONE;
    // Smart render: the bit depth reported to the plug-in (0: the host's).
    short render_bitdepth = 0;
    // Every command: in_data->appl_id (0: the host's).
    A_long appl_id = 0;
    // Global setup: flags already in the output record when the plug-in gets it.
    PF_OutFlags preset_out_flags = 0;
    PF_OutFlags2 preset_out_flags2 = 0;
    // Sequence setup and re-setup succeed without reaching the plug-in.
    bool skip_sequence_setup = false;
};

// Replaces the shim's configuration.
using FaultShimConfigureFn = void (*)(const FaultShimConfig*);
}
