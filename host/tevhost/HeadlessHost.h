// HeadlessHost: loads an effect plug-in (a shared library exporting
// EffectMain) and drives it the way a compositing host does, without one.
//
//   HostOptions options;                       // After Effects, API 13.28, all suites
//   HeadlessHost host(options);
//   host.load("libmy_effect.so");              // HostError: dlopen / dlsym failures
//   host.globalSetup().expectOk();             // PF_Cmd_GLOBAL_SETUP
//   host.paramsSetup().expectOk();             // PF_Cmd_PARAMS_SETUP
//   InstanceId inst = host.createInstance();   // PF_Cmd_SEQUENCE_SETUP
//   host.setParam(inst, "Brightness", 1.2);
//   PixelWorld input(640, 360, 16);  input.fillGradient();
//   RenderResult r = host.render(inst, input); // SMART_PRE_RENDER + SMART_RENDER (see RenderCommands)
//   host.userChangedParam(inst, 1);            // PF_Cmd_USER_CHANGED_PARAM
//   host.updateParamsUI(inst);                 // PF_Cmd_UPDATE_PARAMS_UI
//   host.destroyInstance(inst);                // PF_Cmd_SEQUENCE_SETDOWN, sequence data dropped
//   host.globalSetdown().expectOk();           // PF_Cmd_GLOBAL_SETDOWN
//   EXPECT_TRUE(host.unbalanced().empty());    // suites, handles, params, pre-render data
//
// Commands return a CommandResult instead of throwing, so that tests can look
// at the code; expectOk() turns a failure into a HostError naming the command
// and the code.
//
// Threads: render() may run on several threads at once, for one instance or
// several (multi-frame rendering), and alongside setParam(), userChangedParam()
// and updateParamsUI(). Loading, global and parameter setup, adding and
// removing instances, sequence commands and global setdown belong to one
// thread and must not overlap renders. Callbacks without an effect_ref (the
// basic suite, handles) find their host through the calling thread while a
// command runs; on other threads they work only while a single host exists.
#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "SP/SPBasic.h"
#include "tevhost/Books.h"
#include "tevhost/HostError.h"
#include "tevhost/PixelWorld.h"

namespace TEV::Host {

// Which host to imitate: sets in_data->appl_id.
enum class HostApp {
    AfterEffects,  // 'FXTC'
    PremierePro,   // 'PrMr'
};

// The commands that render a frame.
enum class RenderCommands {
    // PF_Cmd_SMART_PRE_RENDER, then PF_Cmd_SMART_RENDER: the input and the
    // output are checked out through the smart-render callbacks, the
    // parameters through checkout_param.
    Smart,
    // PF_Cmd_FRAME_SETUP, PF_Cmd_RENDER, PF_Cmd_FRAME_SETDOWN, each with the
    // params array holding the frame's values and the input layer in
    // params[0]->u.ld, and the output world as EffectMain's `output`. The
    // frame data the plug-in sets at frame setup comes back in
    // in_data->frame_data; setdown follows a successful setup even when the
    // render failed.
    NonSmart,
};

// The hosts this one can behave like (HostOptions::forProfile).
enum class HostProfile {
    // 'FXTC', every suite, smart rendering. The default.
    AfterEffects,
    // 'PrMr', no "AEGP ..." suites, no smart rendering (RenderCommands::NonSmart).
    PremierePro,
};
// "AfterEffects" or "PremierePro".
const char* profileName(HostProfile profile);
std::ostream& operator<<(std::ostream& out, HostProfile profile);  // profileName

// A suite by name and version; version kAnyVersion matches every version.
struct SuiteId {
    static constexpr int kAnyVersion = -1;
    std::string name;
    int version = kAnyVersion;
};

// How a withheld suite is refused.
enum class Withholding {
    Error,             // AcquireSuite returns an error and a null table
    NullWithoutError,  // AcquireSuite returns kSPNoError and a null table
};

struct HostOptions {
    HostApp app = HostApp::AfterEffects;
    PF_SpecVersion api_version{PF_AE_PLUG_IN_VERSION, PF_AE_PLUG_IN_SUBVERS};
    PF_RationalScale downsample_x{1, 1};
    PF_RationalScale downsample_y{1, 1};
    PF_RationalScale pixel_aspect_ratio{1, 1};
    A_u_long time_scale = 24;    // ticks per second
    A_long time_step = 1;        // ticks per frame
    A_long total_time = 240;     // ticks
    PF_Quality quality = PF_Quality_HI;

    // Suites the host refuses, and how.
    std::vector<SuiteId> withheld_suites;
    Withholding withholding = Withholding::Error;

    // Threads that run iterate pixel functions (the calling thread included);
    // 0 picks the machine's core count, at least 2.
    unsigned iterate_threads = 0;

    // The abort callback answers PF_Interrupt_CANCEL from call number
    // abort_after_calls + 1 on (counted over the host's life); -1: never.
    long abort_after_calls = -1;
    // Called for every progress report, on the reporting thread (possibly
    // several at once); a non-zero result is returned to the plug-in.
    std::function<PF_Err(A_long current, A_long total)> on_progress;

    RenderCommands render_commands = RenderCommands::Smart;

    // The options of a profile; the other fields keep their defaults.
    static HostOptions forProfile(HostProfile profile);
    // The Premiere Pro profile (forProfile(HostProfile::PremierePro)):
    // PremierePro app id, every "AEGP ..." suite withheld, non-smart rendering.
    static HostOptions premiereWithoutAegp();
};

// The outcome of one command.
struct CommandResult {
    PF_Cmd command = PF_Cmd_ABOUT;
    PF_Err err = PF_Err_NONE;
    std::string return_msg;   // out_data->return_msg
    PF_OutFlags out_flags = 0;
    PF_OutFlags2 out_flags2 = 0;

    bool ok() const { return err == PF_Err_NONE; }
    // "PF_Cmd_GLOBAL_SETUP (1) failed with error 516 (PF_Err_BAD_CALLBACK_PARAM): <return_msg>"
    std::string describe() const;
    // Throws HostError(describe(), err) when the command failed.
    const CommandResult& expectOk() const;
};

// The outcome of the commands that rendered one frame.
struct RenderResult {
    CommandResult pre_render; // smart pre-render, or frame setup (RenderCommands::NonSmart)
    CommandResult render;     // smart render or render; command PF_Cmd_ABOUT when the first failed and this was not sent
    CommandResult setdown;    // frame setdown (NonSmart, after a successful frame setup); else command PF_Cmd_ABOUT
    PixelWorld output;        // what the plug-in left in the output world (zero-filled before)
    PF_LRect result_rect{};   // from smart pre-render
    PF_LRect max_result_rect{};

    bool ok() const {
        return pre_render.ok() && render.ok() && setdown.ok() &&
               (render.command == PF_Cmd_SMART_RENDER || render.command == PF_Cmd_RENDER);
    }
    // The first failure's code, or 0.
    PF_Err err() const;
};

struct RenderOptions {
    A_long frame = 0;        // current_time = frame × time_step
    // Requested rectangle; empty means the whole input.
    PF_LRect request{0, 0, 0, 0};
};

// A parameter as the plug-in registered it (and, for an instance, its state).
struct ParamInfo {
    int index = 0;                // 0 is the input layer
    std::string name;
    PF_ParamType type = PF_Param_RESERVED;
    std::string type_name;        // "layer", "float slider", "checkbox", "popup", "button", ...
    A_long id = 0;                // disk id
    PF_ParamFlags flags = 0;
    PF_ParamUIFlags ui_flags = 0;
    double default_value = 0;
    double value = 0;             // current value (instance queries); default otherwise
    double valid_min = 0, valid_max = 0;
    double slider_min = 0, slider_max = 0;
    int precision = 0;
    int display_flags = 0;
    std::vector<std::string> choices;  // popup items, value 1 is choices[0]
    std::string label;                 // button label or check-box text
    bool hidden = false;               // stream hidden through the dynamic stream suite
    bool has_value() const;            // float slider, checkbox or popup
};

// Name, match name and category from the plug-in's registration entry, when exported.
struct PluginInfo {
    bool present = false;
    std::string name, match_name, category, entry_point;
    A_long api_major = 0, api_minor = 0;
    std::string support_url;
};

using InstanceId = int;

class HeadlessHost {
public:
    explicit HeadlessHost(HostOptions options = {});
    // Sets down what is still set up (instances, then the plug-in), then unloads it.
    ~HeadlessHost();
    HeadlessHost(const HeadlessHost&) = delete;
    HeadlessHost& operator=(const HeadlessHost&) = delete;

    // --- loading -------------------------------------------------------------
    // dlopen + dlsym("EffectMain"). HostError naming the path and the loader's
    // message when the library cannot be loaded or lacks the entry point.
    void load(const std::string& path);
    bool loaded() const;
    // From PluginDataEntryFunction2 / PluginDataEntryFunction if exported.
    PluginInfo pluginInfo() const;

    // --- commands, in host order ---------------------------------------------
    CommandResult globalSetup();
    CommandResult paramsSetup();
    // A new instance with PF_Cmd_SEQUENCE_SETUP sent; HostError if it fails.
    InstanceId createInstance();
    // A new instance with no command sent (for driving sequenceSetup by hand).
    InstanceId addInstance();
    CommandResult sequenceSetup(InstanceId inst);
    // Hands the current sequence data in and takes what comes back; a block
    // the plug-in replaced but did not dispose is dropped by the host.
    CommandResult sequenceResetup(InstanceId inst);
    CommandResult sequenceSetdown(InstanceId inst);
    // Sends SEQUENCE_SETDOWN if the instance was set up, then drops its
    // sequence data (the host disposes a block the plug-in left).
    void destroyInstance(InstanceId inst);
    CommandResult updateParamsUI(InstanceId inst);
    // The plug-in may change values (uu.change_flags); they are kept.
    CommandResult userChangedParam(InstanceId inst, int param_index);
    // The frame's render commands (HostOptions::render_commands) at the
    // input's depth: SMART_PRE_RENDER then, if it succeeded, SMART_RENDER; or
    // FRAME_SETUP, RENDER, FRAME_SETDOWN.
    // Thread-safe: may run for several frames of one instance at once.
    RenderResult render(InstanceId inst, const PixelWorld& input, const RenderOptions& options = {});
    // Any other command with the instance's parameters, no extra record and no
    // output world (PF_Cmd_RENDER, PF_Cmd_DO_DIALOG, ...).
    CommandResult sendCommand(InstanceId inst, PF_Cmd cmd);
    CommandResult globalSetdown();

    // --- parameters ----------------------------------------------------------
    // As registered at parameter setup, input layer first.
    std::vector<ParamInfo> params() const;
    // One instance's parameters with values and hidden flags.
    std::vector<ParamInfo> params(InstanceId inst) const;
    // The index of the parameter named `name` (exact match); HostError if none.
    int paramIndex(const std::string& name) const;
    // Sets a float slider, checkbox (0/1) or popup (1-based) value. HostError
    // for an unknown name or index, a kind without value, or a value outside
    // the valid range.
    void setParam(InstanceId inst, const std::string& name, double value);
    void setParam(InstanceId inst, int index, double value);
    // Sets a popup by the text of one of its choices.
    void setParamChoice(InstanceId inst, const std::string& name, const std::string& choice);
    double paramValue(InstanceId inst, const std::string& name) const;
    double paramValue(InstanceId inst, int index) const;
    bool paramHidden(InstanceId inst, int index) const;

    // --- instance and host state ---------------------------------------------
    // The instance's sequence data bytes (empty when it has none).
    std::vector<char> sequenceData(InstanceId inst) const;
    // The flags the plug-in declared at global setup.
    PF_OutFlags declaredOutFlags() const;
    PF_OutFlags2 declaredOutFlags2() const;
    A_u_long declaredVersion() const;
    // The application's persistent data: section → key → value.
    std::string preference(const std::string& section, const std::string& key) const;
    bool hasPreference(const std::string& section, const std::string& key) const;
    void setPreference(const std::string& section, const std::string& key, const std::string& value);

    // --- abort and progress --------------------------------------------------
    // From now on the abort callback answers PF_Interrupt_CANCEL. Only stores
    // an atomic flag, so a signal handler may call it.
    void requestAbort() noexcept;
    void clearAbort() noexcept;

    // --- books ---------------------------------------------------------------
    Books books() const;
    // Everything that does not balance, one line each: suites not released,
    // handles not disposed (other than data the host holds for the plug-in:
    // global data while set up, sequence data of live instances), parameters
    // not checked in, pre-render data never freed, AEGP references and stream
    // values not disposed, and every recorded misuse. Empty when all balance.
    std::vector<std::string> unbalanced() const;

    // The basic suite handed to the plug-in (for tests of suite helpers).
    SPBasicSuite* basicSuite() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace TEV::Host
