// Books: what a plug-in took from the host and gave back, for tests to assert
// on. A snapshot; HeadlessHost::books() makes one under the host's lock.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "AE_Effect.h"

namespace TEV::Host {

struct SuiteCount {
    long acquired = 0;
    long released = 0;
};

struct Books {
    // Per suite name and version.
    std::map<std::pair<std::string, int>, SuiteCount> suites;
    // Requests the host refused: unknown name/version, or withheld on purpose.
    std::vector<std::pair<std::string, int>> suites_refused;

    long handles_allocated = 0;
    long handles_locked = 0;
    long handles_unlocked = 0;
    long handles_disposed = 0;   // by the plug-in
    long handles_resized = 0;
    long handles_reclaimed = 0;  // sequence data the host dropped on the plug-in's behalf
    long handles_live = 0;       // allocated - disposed - reclaimed

    long blocks_allocated = 0;   // basic suite AllocateBlock
    long blocks_freed = 0;

    long params_checked_out = 0;
    long params_checked_in = 0;
    long param_ui_updates = 0;   // PF_UpdateParamUI calls that were applied

    long pre_render_data_handed_out = 0; // non-null pre_render_data after smart pre-render
    long pre_render_data_freed = 0;      // the plug-in's delete callback ran
    long pre_render_data_dropped = 0;    // handed out without a delete callback: lost

    long frames_set_up = 0;              // PF_Cmd_FRAME_SETUP that succeeded (non-smart rendering)
    long frames_set_down = 0;            // PF_Cmd_FRAME_SETDOWN sent after them

    long layers_checked_out = 0;         // checkout_layer
    long layer_pixels_checked_out = 0;   // checkout_layer_pixels
    long layer_pixels_checked_in = 0;
    long outputs_checked_out = 0;

    long effect_refs_made = 0, effect_refs_disposed = 0;
    long stream_refs_made = 0, stream_refs_disposed = 0;
    long stream_values_made = 0, stream_values_disposed = 0;
    long worlds_made = 0, worlds_disposed = 0;   // PF World Suite
    long worlds_copied = 0;                      // the utility callback copy

    long abort_checks = 0;
    long progress_calls = 0;
    A_long last_progress_current = 0, last_progress_total = 0;
    long iterate_calls = 0;
    long pixels_iterated = 0;

    std::vector<std::string> registered_aegp_names;  // AEGP_RegisterWithAEGP
    std::string options_button_name;                 // PF_SetOptionsButtonName
    std::vector<std::string> reported_info;          // AEGP_ReportInfo

    // Calls of suite members or callbacks this host does not implement,
    // by suite or callback block name.
    std::vector<std::string> unsupported_calls;
    // Contract breaches seen by the host: released what was never acquired,
    // disposed an unknown handle, callbacks outside their command, ...
    std::vector<std::string> misuse;

    // Acquired minus released, summed over all suites.
    long suitesOutstanding() const;
};

}  // namespace TEV::Host
