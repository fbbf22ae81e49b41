// AEGP Utility Suite: registration with the AEGP layer and reported info.
#include <cstring>

#include "AegpSuites.h"
#include "Suites.h"
#include "Unsupported.h"

namespace TEV::Host {

namespace {

constexpr char kUtility[] = "AEGP Utility Suite";

A_Err registerWithAegp(AEGP_GlobalRefcon, const A_char* name, AEGP_PluginID* plugin_id) {
    HeadlessHost::Impl* host = currentHost();
    if (!host || !name || !plugin_id) {
        return A_Err_PARAMETER;
    }
    *plugin_id = host->aegp_registry.with([](AegpRegistry& r) {
        r.ids.insert(r.next_id);
        return r.next_id++;
    });
    host->books.with([&](Books& b) {
        b.registered_aegp_names.emplace_back(name, strnlen(name, AEGP_MAX_PLUGIN_NAME_SIZE));
    });
    return A_Err_NONE;
}

A_Err reportInfo(AEGP_PluginID, const A_char* info) {
    HeadlessHost::Impl* host = currentHost();
    if (!host || !info) {
        return A_Err_PARAMETER;
    }
    host->books.with([&](Books& b) { b.reported_info.emplace_back(info); });
    return A_Err_NONE;
}

AEGP_UtilitySuite5 makeUtility() {
    AEGP_UtilitySuite5 s{};
    s.AEGP_ReportInfo = &reportInfo;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetDriverPluginInitFuncVersion, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetDriverImplementationVersion, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_StartQuietErrors, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_EndQuietErrors, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetLastErrorMessage, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_StartUndoGroup, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_EndUndoGroup, kUtility);
    s.AEGP_RegisterWithAEGP = &registerWithAegp;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetMainHWND, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_ShowHideAllFloaters, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_PaintPalGetForeColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_PaintPalGetBackColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_PaintPalSetForeColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_PaintPalSetBackColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CharPalGetFillColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CharPalGetStrokeColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CharPalSetFillColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CharPalSetStrokeColor, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CharPalIsFillColorUIFrontmost, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_ConvertFpLongToHSFRatio, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_ConvertHSFRatioToFpLong, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_CauseIdleRoutinesToBeCalled, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetSuppressInteractiveUI, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_WriteToOSConsole, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_WriteToDebugLog, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_IsScriptingAvailable, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_ExecuteScript, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_HostIsActivated, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetPluginPlatformRef, kUtility);
    TEV_HOST_UNSUPPORTED(s, AEGP_UpdateFontList, kUtility);
    return s;
}

}  // namespace

void checkPluginId(HeadlessHost::Impl& host, AEGP_PluginID id, const char* who) {
    const bool known = host.aegp_registry.with([id](const AegpRegistry& r) { return r.ids.count(id) != 0; });
    if (!known) {
        host.noteMisuse(std::string(who) + " with AEGP plug-in id " + std::to_string(id) +
                        " that AEGP_RegisterWithAEGP never returned");
    }
}

const AEGP_UtilitySuite5& aegpUtilitySuite5() { return builtOnce<makeUtility>(); }

}  // namespace TEV::Host
