// Global record access, the shared client, and the instance id.
#include "PluginState.h"

#include <cstring>

#include "AEFX_SuiteHandlerTemplate.h"
#include "EffectInfo.h"

std::string PluginVersionText() {
    return std::to_string(EFFECT_MAJOR_VERSION) + "." + std::to_string(EFFECT_MINOR_VERSION) + "." +
           std::to_string(EFFECT_BUG_VERSION);
}

globalData* GlobalOf(PF_OutData* out_data) {
    if (!out_data || !out_data->global_data) return nullptr;
    return reinterpret_cast<globalData*>(*out_data->global_data);
}

TEV::Rest::Client* EnsureClient(globalData* global) {
    std::lock_guard<std::mutex> lock(global->client_mutex);
    if (!global->client || !global->client->valid) {
        auto fresh = TEV::Rest::create_client();
        // Without the identity every exchange would fail with "No Plugin ID".
        fresh->setPlugin(kPluginName, PluginVersionText());
        if (global->client) global->retired_clients.push_back(std::move(global->client));
        global->client = std::move(fresh);
    }
    return global->client.get();
}

std::string ReadInstanceId(PF_InData* in_data, PF_OutData* out_data) {
    AEFX_SuiteScoper<PF_EffectSequenceDataSuite1> sequence_suite(
        in_data, kPFEffectSequenceDataSuite, kPFEffectSequenceDataSuiteVersion1, out_data);
    PF_ConstHandle handle = nullptr;
    sequence_suite->PF_GetConstSequenceData(in_data->effect_ref, &handle);
    if (!handle) return std::string();  // the instance's setup failed: no block
    // The suite hands the block out as const; the lock callback takes a plain handle.
    PF_Handle block = (PF_Handle)handle;
    const char* text = static_cast<const char*>(in_data->utils->host_lock_handle(block));
    std::string id;
    if (text) id.assign(text, strnlen(text, sizeof(SequenceData)));
    in_data->utils->host_unlock_handle(block);
    return id;
}
