// Private state of HeadlessHost shared by the callback and suite sources.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_GeneralPlug.h"
#include "Guarded.h"
#include "LiveRefs.h"
#include "PluginLibrary.h"
#include "ThreadPool.h"
#include "tevhost/HeadlessHost.h"

namespace TEV::Host {

struct Frame;
struct Instance;

// What effect_ref points at during one command: the host, the instance and,
// for smart rendering, the frame.
struct CallContext {
    HeadlessHost::Impl* host = nullptr;
    Instance* instance = nullptr;
    PF_Cmd cmd = PF_Cmd_ABOUT;
    Frame* frame = nullptr;
    PF_InData* in_data = nullptr;
};

// A registered parameter; its pointer fields point into the owned strings.
struct RegisteredParam {
    PF_ParamDef def{};
    std::string choices;  // popup list
    std::string label;    // button label / check-box text
};

// An applied effect instance.
struct Instance {
    InstanceId id = 0;
    bool set_up = false;
    PF_Handle sequence_data = nullptr;
    mutable std::mutex mutex;           // guards values and hidden flags
    std::vector<PF_ParamDef> values;    // per parameter index, uu.id holds the id
    std::vector<bool> hidden;
    // Check-outs not yet checked in: key is the parameter's id, value the count.
    std::map<A_long, long> checked_out;
    char layer_token = 0;               // its address is the instance's AEGP layer handle
};

// AEGP references handed to the plug-in; validated through live sets.
struct EffectRef {
    Instance* instance = nullptr;
};
struct StreamRef {
    Instance* instance = nullptr;
    int index = 0;
};

// One frame between smart pre-render and smart render.
struct Frame {
    const PixelWorld* input = nullptr;
    PixelWorld output;
    PF_RenderRequest request{};
    std::map<A_long, PF_ParamIndex> layer_checkouts;  // checkout id → parameter index
    A_long time = 0;
    PF_Handle frame_data = nullptr;  // set at frame setup (non-smart rendering)
};

// The application's persistent data: section -> key -> text.
using Preferences = std::map<std::string, std::map<std::string, std::string>>;

// The ids that AEGP_RegisterWithAEGP has returned.
struct AegpRegistry {
    AEGP_PluginID next_id = 1;
    std::set<AEGP_PluginID> ids;
};

struct HeadlessHost::Impl {
    explicit Impl(HostOptions opts);
    ~Impl();

    HostOptions options;
    PluginLibrary library;
    SPBasicSuite basic_suite{};
    PF_UtilCallbacks* utils = nullptr;

    // Plug-in-wide state.
    PF_Handle global_data = nullptr;
    bool globally_set_up = false;
    bool params_set_up = false;
    PF_OutFlags out_flags = 0;
    PF_OutFlags2 out_flags2 = 0;
    A_u_long my_version = 0;
    A_long declared_num_params = 0;
    std::vector<std::unique_ptr<RegisteredParam>> registered;  // index 0: input layer

    std::map<InstanceId, std::unique_ptr<Instance>> instances;
    InstanceId next_instance = 1;

    // What the callbacks touch from several threads. Each member has its own
    // lock, taken only inside its accessors and never while another is held.
    Guarded<Books> books;
    LiveRefs<EffectRef> effect_refs{&Books::effect_refs_made, &Books::effect_refs_disposed};
    LiveRefs<StreamRef> stream_refs{&Books::stream_refs_made, &Books::stream_refs_disposed};
    // AEGP_StreamValue(2) records handed out (the plug-in owns them).
    LiveRefs<const void> stream_values{&Books::stream_values_made, &Books::stream_values_disposed};
    Guarded<std::map<const PF_EffectWorld*, PixelWorld>> plugin_worlds;  // PF World Suite
    Guarded<Preferences> persistent;                                     // AEGP Persistent Data Suite
    Guarded<AegpRegistry> aegp_registry;                                  // AEGP_RegisterWithAEGP

    std::atomic<bool> abort_requested{false};
    std::atomic<long> abort_calls{0};
    std::unique_ptr<ThreadPool> pool;

    // --- helpers used by the callbacks ---
    void noteMisuse(const std::string& what);
    void noteUnsupported(const std::string& what);
    PF_Err abortCheck();
    PF_Err reportProgress(A_long current, A_long total);
    ThreadPool& iteratePool();
    unsigned iterateThreads() const;
    Instance& instance(InstanceId id) const;  // HostError when unknown

    // Sends one command; `params` and `output` may be null.
    CommandResult dispatch(PF_Cmd cmd, Instance* inst, PF_ParamDef** params, void* extra,
                           Frame* frame, PF_OutData* out_override = nullptr, PF_EffectWorld* output = nullptr);
    // FRAME_SETUP, RENDER and FRAME_SETDOWN of `frame` (RenderCommands::NonSmart).
    RenderResult renderNonSmart(Instance& inst, Frame& frame);
    void fillInData(PF_InData& in, CallContext& ctx, Instance* inst, Frame* frame) const;
};

// The host whose plug-in is calling on this thread (set while a command
// runs), else the only live host, else null.
HeadlessHost::Impl* currentHost();

// Marks the calling thread as working for `host` for the scope's lifetime.
class CurrentHostScope {
public:
    explicit CurrentHostScope(HeadlessHost::Impl* host);
    ~CurrentHostScope();
    CurrentHostScope(const CurrentHostScope&) = delete;
    CurrentHostScope& operator=(const CurrentHostScope&) = delete;

private:
    HeadlessHost::Impl* previous_;
};

// The context of a command that is running, behind effect_ref; null (and a
// misuse naming `who` in the current host's books) for anything else.
CallContext* contextOf(PF_ProgPtr effect_ref, const char* who);
// Makes ctx findable through contextOf for the scope's lifetime.
class LiveContextScope {
public:
    explicit LiveContextScope(CallContext* ctx);
    ~LiveContextScope();
    LiveContextScope(const LiveContextScope&) = delete;
    LiveContextScope& operator=(const LiveContextScope&) = delete;

private:
    CallContext* ctx_;
};

void registerLiveHost(HeadlessHost::Impl* host);
void unregisterLiveHost(HeadlessHost::Impl* host);

// Tables shared by every host (their functions find the host themselves).
PF_UtilCallbacks* utilCallbacks();
PF_InteractCallbacks interactCallbacks();
const void* findSuite(const std::string& name, int version);
SPBasicSuite makeBasicSuite();
PF_PreRenderCallbacks preRenderCallbacks();
PF_SmartRenderCallbacks smartRenderCallbacks();

// The utility callback `copy`: same depth, same-size rectangles (no scaling).
PF_Err copyWorld(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r);

// Handle memory (process-wide registry, books kept per owning host).
PF_Handle newHandle(A_u_longlong size);
void* lockHandle(PF_Handle h);
void unlockHandle(PF_Handle h);
void disposeHandle(PF_Handle h);
A_u_longlong handleSize(PF_Handle h);
PF_Err resizeHandle(A_u_longlong size, PF_Handle* h);
bool handleAlive(PF_Handle h);
// Disposes a handle on the plug-in's behalf, counted as reclaimed.
void reclaimHandle(PF_Handle h);
// Live handles owned by `host`.
std::vector<std::pair<PF_Handle, A_u_longlong>> liveHandles(const HeadlessHost::Impl* host);
// Forgets `host` as owner of its remaining handles (freed with it).
void releaseHandlesOf(const HeadlessHost::Impl* host);

}  // namespace TEV::Host
