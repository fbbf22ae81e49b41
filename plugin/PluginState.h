// The effect's state records: the global record of one plug-in load, the
// parameter values of one frame, and the per-instance block with its id.
// All three live in host memory handles.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_GeneralPlug.h"
#include "FramePool.h"
#include "RestClient.h"

// One per plug-in load, in a handle that global setup allocates and keeps
// locked; constructed in place there and destroyed at global setdown.
struct globalData {
    char log_path[AEFX_MAX_PATH] = {};  // NUL-terminated path of the log file
    AEGP_PluginID aegp_plugin_id = 0;   // from AEGP registration; 0 without AEGP
    std::unique_ptr<TEV::Rest::Client> client;  // shared by every instance and render thread

    // Clients that EnsureClient replaced. A render thread may still be using
    // one, so they live until global setdown instead of being destroyed.
    std::vector<std::unique_ptr<TEV::Rest::Client>> retired_clients;
    std::mutex client_mutex;  // guards client and retired_clients while replacing

    FramePool frame_pool;  // frame stores kept between renders
};

// The parameter values of one frame: smart pre-render fills it (GetParams),
// smart render reads it. Handed to the host as the frame's pre-render data.
struct PluginParams {
    float brightness;
    float contrast;
    float saturation;
    bool enable_effect;
    A_long type;  // the "Type" popup's 1-based item number
};

// The per-instance block, stored with the host's project: exactly 255 bytes,
// the instance id as a NUL-terminated text at its start.
struct SequenceData {
    char instance_id[255];
};
static_assert(sizeof(SequenceData) == 255, "the stored block is 255 bytes");

// The plug-in's name everywhere: client identity, log file, AEGP registration.
constexpr const char* kPluginName = "ExamplePlugin";
// The client identity's version text, "1.0.0".
std::string PluginVersionText();

// The global record behind out_data->global_data (locked since global setup);
// null before global setup.
globalData* GlobalOf(PF_OutData* out_data);

// Makes sure `global` holds a usable client: creates one (with the plug-in's
// identity) when there is none or it is not valid, and returns it. A replaced
// client is retired, not destroyed. Safe to call from several threads.
TEV::Rest::Client* EnsureClient(globalData* global);

// The instance id from the instance's sequence data, read through the
// "PF Effect Sequence Data Suite" (scoped: a missing suite throws 13 with
// "Not able to acquire AEFX Suite." in return_msg). "" when the instance has
// no sequence data (its setup failed).
std::string ReadInstanceId(PF_InData* in_data, PF_OutData* out_data);
