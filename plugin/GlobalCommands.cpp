// Global setup and setdown.
#include <cstdio>
#include <cstring>
#include <new>
#include <sstream>

#include "AEGP_SuiteHandler.h"
#include "AE_EffectSuites.h"
#include "Commands.h"
#include "EffectInfo.h"
#include "Logging.h"
#include "TEVLocations.h"
#include "UserTexts.h"

namespace {

// The log file: the maker folder's Logs, the plug-in name and the log suffix.
constexpr char kLogPath[] = TEV_MAKER_FOLDER "/Logs/" EFFECT_NAME TEV_LOG_FILE_SUFFIX;
static_assert(sizeof(kLogPath) <= AEFX_MAX_PATH,
              "the log path must fit the global record's 260 bytes: choose a shorter TEV_MAKER_FOLDER");

void setOptionsButtonName(PF_InData* in_data) {
    const void* suite = nullptr;
    if (!in_data->pica_basicP) return;
    if (in_data->pica_basicP->AcquireSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1, &suite) || !suite)
        return;
    static_cast<const PF_EffectUISuite1*>(suite)->PF_SetOptionsButtonName(in_data->effect_ref, "Options");
    in_data->pica_basicP->ReleaseSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1);
}

}  // namespace

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
    out_data->my_version = EFFECT_VERSION_WORD;
    setOptionsButtonName(in_data);
    out_data->out_flags = EFFECT_OUT_FLAGS;
    out_data->out_flags2 |= EFFECT_OUT_FLAGS2;

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_Handle handle = suites.HandleSuite1()->host_new_handle(sizeof(globalData));
    if (!handle) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    void* block = suites.HandleSuite1()->host_lock_handle(handle);
    if (!block) {
        suites.HandleSuite1()->host_dispose_handle(handle);
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    globalData* global = new (block) globalData();  // client starts null
    out_data->global_data = handle;
    std::memcpy(global->log_path, kLogPath, sizeof(kLogPath));

    try {
        global->client = TEV::Rest::create_client();
        global->client->setPlugin(kPluginName, PluginVersionText());
    } catch (TEV::TEVErr& e) {
        std::stringstream line;
        line << UserTexts::kGlobalSetupLibraryErrorPrefix << e.detail;
        spdlog_log(std::move(line), global->log_path);
    } catch (std::exception& e) {
        std::stringstream line;
        line << UserTexts::kGlobalSetupErrorPrefix << e.what();
        spdlog_log(std::move(line), global->log_path);
    }
    out_data->flat_sdata_size = sizeof(globalData);

    spdlog_log(std::string(UserTexts::kWelcome), global->log_path);
    char identification[256];
    std::snprintf(identification, sizeof identification, "%s, v%d.%d.%d in %s", EFFECT_NAME,
                  EFFECT_MAJOR_VERSION, EFFECT_MINOR_VERSION, EFFECT_BUG_VERSION, appid(in_data).c_str());
    spdlog_log(std::string(identification), global->log_path);

    try {
        suites.UtilitySuite5()->AEGP_RegisterWithAEGP(nullptr, kPluginName, &global->aegp_plugin_id);
    } catch (PF_Err) {
        // A host without the AEGP suites: the effect works without registration.
    }
    return PF_Err_NONE;
}

PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData* out_data) {
    globalData* global = GlobalOf(out_data);
    if (!global) return PF_Err_NONE;  // global setup never completed
    {
        std::stringstream line;
        line << UserTexts::kSetdownLinePrefix << UserTexts::kSetdownLineNumber << "\n";
        spdlog_log(std::move(line), global->log_path);
    }
    const std::string log_path = global->log_path;
    try {
        global->client.reset();
        global->retired_clients.clear();
        global->~globalData();
        if (in_data->global_data) {
            AEGP_SuiteHandler suites(in_data->pica_basicP);
            suites.HandleSuite1()->host_dispose_handle(in_data->global_data);
        }
    } catch (std::exception& e) {
        std::stringstream line;
        line << UserTexts::kSetdownErrorPrefix << e.what();
        spdlog_log(std::move(line), log_path);
    }
    return PF_Err_NONE;
}
