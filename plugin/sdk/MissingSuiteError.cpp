// The suite handler's failure: a thrown PF_Err that the effect's entry point
// returns to the host as the command's result.
#include "AEGP_SuiteHandler.h"

void AEGP_SuiteHandler::MissingSuiteError() const {
    throw static_cast<PF_Err>(PF_Err_BAD_CALLBACK_PARAM);
}
