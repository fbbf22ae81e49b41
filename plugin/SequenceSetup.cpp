// Per-instance sequence data and the host tag.
#include <cstring>
#include <sstream>

#include "AEGP_SuiteHandler.h"
#include "Commands.h"
#include "Logging.h"
#include "UserTexts.h"

PF_Err SequenceSetup(PF_InData* in_data, PF_OutData* out_data) {
    globalData* global = GlobalOf(out_data);
    try {
        EnsureClient(global);
        AEGP_SuiteHandler suites(in_data->pica_basicP);
        // Re-setup makes a new block too: the block the host hands in is left to the host.
        PF_Handle handle = suites.HandleSuite1()->host_new_handle(sizeof(SequenceData));
        if (!handle) return PF_Err_INTERNAL_STRUCT_DAMAGED;
        auto* block = static_cast<SequenceData*>(suites.HandleSuite1()->host_lock_handle(handle));
        if (!block) {
            suites.HandleSuite1()->host_dispose_handle(handle);
            return PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
        const std::string id = TEV::generate_uuid();
        std::memcpy(block->instance_id, id.c_str(), id.size() + 1);
        out_data->sequence_data = handle;
        suites.HandleSuite1()->host_unlock_handle(handle);
    } catch (TEV::TEVErr& e) {
        std::stringstream line;
        line << UserTexts::kSequenceSetupLibraryErrorPrefix << e.detail;
        spdlog_log(std::move(line), global->log_path);
    } catch (std::exception& e) {
        std::stringstream line;
        line << UserTexts::kSequenceSetupErrorPrefix << e.what();
        spdlog_log(std::move(line), global->log_path);
    }
    return PF_Err_NONE;
}

std::string appid(PF_InData* in_data) {
    std::string tag;
    if (in_data->appl_id == 'FXTC')
        tag = "ae";
    else if (in_data->appl_id == 'PrMr')
        tag = "premiere";
    return tag + std::to_string(in_data->version.major);
}
