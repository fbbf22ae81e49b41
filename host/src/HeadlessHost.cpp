// Loading the plug-in, filling PF_InData/PF_OutData, and the commands in host order.
#include "tevhost/HeadlessHost.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <thread>

#include "HostImpl.h"

namespace TEV::Host {

namespace {

constexpr A_long kAfterEffects = 'FXTC';
constexpr A_long kPremierePro = 'PrMr';

std::string returnMessage(const PF_OutData& out) {
    return std::string(out.return_msg, strnlen(out.return_msg, sizeof(out.return_msg)));
}

}  // namespace

// ---------------------------------------------------------------------------
// Impl
// ---------------------------------------------------------------------------

HeadlessHost::Impl::Impl(HostOptions opts) : options(std::move(opts)) {
    basic_suite = makeBasicSuite();
    utils = utilCallbacks();
    registerLiveHost(this);
}

HeadlessHost::Impl::~Impl() {
    library.close();
    pool.reset();
    releaseHandlesOf(this);
    unregisterLiveHost(this);
}

void HeadlessHost::Impl::noteMisuse(const std::string& what) {
    books.with([&](Books& b) { b.misuse.push_back(what); });
}

void HeadlessHost::Impl::noteUnsupported(const std::string& what) {
    books.with([&](Books& b) { b.unsupported_calls.push_back(what); });
}

PF_Err HeadlessHost::Impl::abortCheck() {
    long n = ++abort_calls;
    books.with([](Books& b) { ++b.abort_checks; });
    if (abort_requested.load() || (options.abort_after_calls >= 0 && n > options.abort_after_calls)) {
        return PF_Interrupt_CANCEL;
    }
    return PF_Err_NONE;
}

PF_Err HeadlessHost::Impl::reportProgress(A_long current, A_long total) {
    books.with([&](Books& b) {
        ++b.progress_calls;
        b.last_progress_current = current;
        b.last_progress_total = total;
    });
    return options.on_progress ? options.on_progress(current, total) : PF_Err_NONE;
}

unsigned HeadlessHost::Impl::iterateThreads() const {
    if (options.iterate_threads) {
        return options.iterate_threads;
    }
    return std::max(2u, std::thread::hardware_concurrency());
}

ThreadPool& HeadlessHost::Impl::iteratePool() {
    static std::mutex pool_mutex;
    std::lock_guard<std::mutex> lock(pool_mutex);
    if (!pool) {
        pool = std::make_unique<ThreadPool>(iterateThreads() - 1);
    }
    return *pool;
}

Instance& HeadlessHost::Impl::instance(InstanceId id) const {
    auto it = instances.find(id);
    if (it == instances.end()) {
        throw HostError("no effect instance " + std::to_string(id));
    }
    return *it->second;
}

void HeadlessHost::Impl::fillInData(PF_InData& in, CallContext& ctx, Instance* inst, Frame* frame) const {
    in = PF_InData{};
    in.inter = interactCallbacks();
    in.utils = utils;
    in.effect_ref = reinterpret_cast<PF_ProgPtr>(&ctx);
    in.quality = options.quality;
    in.version = options.api_version;
    in.appl_id = options.app == HostApp::PremierePro ? kPremierePro : kAfterEffects;
    in.num_params = static_cast<A_long>(registered.size());
    in.current_time = frame ? frame->time : 0;
    in.time_step = options.time_step;
    in.total_time = options.total_time;
    in.local_time_step = options.time_step;
    in.time_scale = options.time_scale;
    in.field = PF_Field_FRAME;
    if (frame && frame->input) {
        in.width = frame->input->width();
        in.height = frame->input->height();
    }
    in.extent_hint = PF_Rect{0, 0, in.width, in.height};
    in.downsample_x = options.downsample_x;
    in.downsample_y = options.downsample_y;
    in.pixel_aspect_ratio = options.pixel_aspect_ratio;
    in.global_data = global_data;
    // Threaded renderers get no sequence data while rendering; they read it
    // through the const sequence-data suite.
    bool threaded_render = frame && (out_flags2 & PF_OutFlag2_SUPPORTS_THREADED_RENDERING);
    in.sequence_data = inst && !threaded_render ? inst->sequence_data : nullptr;
    in.frame_data = frame ? frame->frame_data : nullptr;
    in.pica_basicP = const_cast<SPBasicSuite*>(&basic_suite);
}

CommandResult HeadlessHost::Impl::dispatch(PF_Cmd cmd, Instance* inst, PF_ParamDef** params, void* extra,
                                           Frame* frame, PF_OutData* out_override, PF_EffectWorld* output) {
    if (!library.isOpen()) {
        throw HostError("cannot send " + commandName(cmd) + ": no plug-in is loaded");
    }
    CallContext ctx;
    ctx.host = this;
    ctx.instance = inst;
    ctx.cmd = cmd;
    ctx.frame = frame;
    PF_InData in;
    fillInData(in, ctx, inst, frame);
    ctx.in_data = &in;
    PF_OutData local{};
    PF_OutData& out = out_override ? *out_override : local;
    out.global_data = global_data;
    out.sequence_data = inst ? inst->sequence_data : nullptr;
    out.num_params = static_cast<A_long>(registered.size());

    PF_Err err;
    {
        CurrentHostScope current(this);
        LiveContextScope live(&ctx);
        try {
            err = library.entry()(cmd, &in, &out, params, output, extra);
        } catch (...) {
            // A C entry point must not throw; the host treats it as a failed command.
            err = PF_Err_INTERNAL_STRUCT_DAMAGED;
            noteMisuse("an exception escaped EffectMain during " + commandName(cmd));
        }
    }
    CommandResult result;
    result.command = cmd;
    result.err = err;
    result.return_msg = returnMessage(out);
    result.out_flags = out.out_flags;
    result.out_flags2 = out.out_flags2;
    return result;
}

// ---------------------------------------------------------------------------
// HeadlessHost
// ---------------------------------------------------------------------------

const char* profileName(HostProfile profile) {
    return profile == HostProfile::PremierePro ? "PremierePro" : "AfterEffects";
}

std::ostream& operator<<(std::ostream& out, HostProfile profile) { return out << profileName(profile); }

HostOptions HostOptions::forProfile(HostProfile profile) {
    HostOptions o;
    if (profile == HostProfile::PremierePro) {
        o.app = HostApp::PremierePro;
        for (const char* name : {kAEGPUtilitySuite, kAEGPPFInterfaceSuite, kAEGPEffectSuite, kAEGPStreamSuite,
                                 kAEGPDynamicStreamSuite, kAEGPPersistentDataSuite}) {
            o.withheld_suites.push_back(SuiteId{name, SuiteId::kAnyVersion});
        }
        o.render_commands = RenderCommands::NonSmart;
    }
    return o;
}

HostOptions HostOptions::premiereWithoutAegp() { return forProfile(HostProfile::PremierePro); }

HeadlessHost::HeadlessHost(HostOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

HeadlessHost::~HeadlessHost() {
    if (impl_->library.isOpen() && impl_->globally_set_up) {
        try {
            std::vector<InstanceId> ids;
            for (const auto& [id, inst] : impl_->instances) {
                ids.push_back(id);
            }
            for (InstanceId id : ids) {
                destroyInstance(id);
            }
            globalSetdown();
        } catch (...) {
            // Unloading goes on: nothing may escape a destructor.
        }
    }
}

void HeadlessHost::load(const std::string& path) {
    if (impl_->globally_set_up) {
        throw HostError("cannot load '" + path + "': the loaded plug-in is still set up");
    }
    impl_->library.open(path);
}

bool HeadlessHost::loaded() const { return impl_->library.isOpen(); }

namespace {

A_Err collectPluginData(PF_PluginDataPtr ptr, const A_u_char* name, const A_u_char* match_name,
                        const A_u_char* category, const A_u_char* entry_point, A_long, A_long api_major,
                        A_long api_minor, A_long, const A_u_char* support_url) {
    auto* info = reinterpret_cast<PluginInfo*>(ptr);
    auto text = [](const A_u_char* s) { return s ? std::string(reinterpret_cast<const char*>(s)) : std::string(); };
    info->present = true;
    info->name = text(name);
    info->match_name = text(match_name);
    info->category = text(category);
    info->entry_point = text(entry_point);
    info->api_major = api_major;
    info->api_minor = api_minor;
    info->support_url = text(support_url);
    return A_Err_NONE;
}

A_Err collectPluginData1(PF_PluginDataPtr ptr, const A_u_char* name, const A_u_char* match_name,
                         const A_u_char* category, const A_u_char* entry_point, A_long kind, A_long api_major,
                         A_long api_minor, A_long reserved) {
    return collectPluginData(ptr, name, match_name, category, entry_point, kind, api_major, api_minor,
                             reserved, nullptr);
}

}  // namespace

PluginInfo HeadlessHost::pluginInfo() const {
    PluginInfo info;
    auto* ptr = reinterpret_cast<PF_PluginDataPtr>(&info);
    CurrentHostScope current(impl_.get());
    const char* host_name = impl_->options.app == HostApp::PremierePro ? "Premiere Pro" : "After Effects";
    if (auto entry2 = impl_->library.dataEntry2()) {
        entry2(ptr, &collectPluginData, &impl_->basic_suite, host_name, "headless");
    } else if (auto entry = impl_->library.dataEntry()) {
        entry(ptr, &collectPluginData1, &impl_->basic_suite, host_name, "headless");
    }
    return info;
}

CommandResult HeadlessHost::globalSetup() {
    PF_OutData out{};
    CommandResult r = impl_->dispatch(PF_Cmd_GLOBAL_SETUP, nullptr, nullptr, nullptr, nullptr, &out);
    // Whatever the plug-in stored is tracked, so that a failed setup that
    // left memory behind shows in unbalanced().
    impl_->global_data = out.global_data;
    if (r.ok()) {
        impl_->globally_set_up = true;
        impl_->out_flags = out.out_flags;
        impl_->out_flags2 = out.out_flags2;
        impl_->my_version = out.my_version;
    }
    return r;
}

CommandResult HeadlessHost::paramsSetup() {
    Impl& h = *impl_;
    h.registered.clear();
    auto layer = std::make_unique<RegisteredParam>();
    layer->def.param_type = PF_Param_LAYER;
    std::strncpy(layer->def.name, "Input", sizeof(layer->def.name) - 1);
    layer->def.u.ld.dephault = PF_LayerDefault_MYSELF;
    h.registered.push_back(std::move(layer));
    PF_OutData out{};
    CommandResult r = h.dispatch(PF_Cmd_PARAMS_SETUP, nullptr, nullptr, nullptr, nullptr, &out);
    h.declared_num_params = out.num_params;
    h.params_set_up = r.ok();
    if (r.ok() && out.num_params != static_cast<A_long>(h.registered.size())) {
        h.noteMisuse("PF_OutData.num_params is " + std::to_string(out.num_params) + " but " +
                     std::to_string(h.registered.size()) + " parameters exist (input layer included)");
    }
    return r;
}

InstanceId HeadlessHost::addInstance() {
    Impl& h = *impl_;
    if (!h.params_set_up) {
        throw HostError("cannot apply the effect: parameter setup has not succeeded");
    }
    auto inst = std::make_unique<Instance>();
    inst->id = h.next_instance++;
    for (const auto& reg : h.registered) {
        inst->values.push_back(reg->def);
    }
    inst->hidden.assign(inst->values.size(), false);
    InstanceId id = inst->id;
    h.instances[id] = std::move(inst);
    return id;
}

InstanceId HeadlessHost::createInstance() {
    InstanceId id = addInstance();
    CommandResult r = sequenceSetup(id);
    if (!r.ok()) {
        destroyInstance(id);
        r.expectOk();
    }
    return id;
}

namespace {

// A copy of the instance's parameters for a UI command, change flags cleared.
struct ParamsCopy {
    std::vector<PF_ParamDef> defs;
    std::vector<PF_ParamDef*> pointers;
    explicit ParamsCopy(const Instance& inst) {
        {
            std::lock_guard<std::mutex> lock(inst.mutex);
            defs = inst.values;
        }
        for (PF_ParamDef& d : defs) {
            d.uu.change_flags = PF_ChangeFlag_NONE;
            pointers.push_back(&d);
        }
    }
    PF_ParamDef** list() { return pointers.data(); }
};

}  // namespace

CommandResult HeadlessHost::sequenceSetup(InstanceId id) {
    Instance& inst = impl_->instance(id);
    ParamsCopy params(inst);
    PF_OutData out{};
    CommandResult r = impl_->dispatch(PF_Cmd_SEQUENCE_SETUP, &inst, params.list(), nullptr, nullptr, &out);
    inst.sequence_data = out.sequence_data;
    inst.set_up = r.ok();
    return r;
}

CommandResult HeadlessHost::sequenceResetup(InstanceId id) {
    Instance& inst = impl_->instance(id);
    ParamsCopy params(inst);
    PF_Handle old = inst.sequence_data;
    PF_OutData out{};
    CommandResult r = impl_->dispatch(PF_Cmd_SEQUENCE_RESETUP, &inst, params.list(), nullptr, nullptr, &out);
    if (out.sequence_data != old && old && handleAlive(old)) {
        reclaimHandle(old);  // replaced: the host drops the block it held
    }
    inst.sequence_data = out.sequence_data;
    inst.set_up = r.ok();
    return r;
}

CommandResult HeadlessHost::sequenceSetdown(InstanceId id) {
    Instance& inst = impl_->instance(id);
    ParamsCopy params(inst);
    PF_OutData out{};
    CommandResult r = impl_->dispatch(PF_Cmd_SEQUENCE_SETDOWN, &inst, params.list(), nullptr, nullptr, &out);
    if (!out.sequence_data || !handleAlive(inst.sequence_data)) {
        inst.sequence_data = nullptr;
    }
    inst.set_up = false;
    return r;
}

void HeadlessHost::destroyInstance(InstanceId id) {
    Impl& h = *impl_;
    Instance& inst = h.instance(id);
    if (inst.set_up) {
        sequenceSetdown(id);
    }
    if (inst.sequence_data && handleAlive(inst.sequence_data)) {
        reclaimHandle(inst.sequence_data);  // the host drops the instance's block
    }
    long outstanding = 0;
    {
        std::lock_guard<std::mutex> lock(inst.mutex);
        for (const auto& [param_id, count] : inst.checked_out) {
            outstanding += count;
        }
    }
    if (outstanding) {
        h.noteMisuse("instance " + std::to_string(id) + " removed with " + std::to_string(outstanding) +
                     " parameter check-outs not checked in");
    }
    // References into the instance would dangle: the host takes them back.
    auto ofInstance = [&inst](const auto* ref) { return ref->instance == &inst; };
    for (EffectRef* ref : h.effect_refs.takeIf(ofInstance)) {
        h.noteMisuse("effect reference of instance " + std::to_string(id) +
                     " not disposed when the instance was removed");
        delete ref;
    }
    for (StreamRef* ref : h.stream_refs.takeIf(ofInstance)) {
        h.noteMisuse("stream reference of instance " + std::to_string(id) +
                     " not disposed when the instance was removed");
        delete ref;
    }
    h.instances.erase(id);
}

CommandResult HeadlessHost::updateParamsUI(InstanceId id) {
    Instance& inst = impl_->instance(id);
    ParamsCopy params(inst);
    return impl_->dispatch(PF_Cmd_UPDATE_PARAMS_UI, &inst, params.list(), nullptr, nullptr);
}

CommandResult HeadlessHost::userChangedParam(InstanceId id, int param_index) {
    Instance& inst = impl_->instance(id);
    if (param_index < 1 || param_index >= static_cast<int>(inst.values.size())) {
        throw HostError("PF_Cmd_USER_CHANGED_PARAM: no parameter " + std::to_string(param_index));
    }
    ParamsCopy params(inst);
    PF_UserChangedParamExtra extra{param_index};
    CommandResult r = impl_->dispatch(PF_Cmd_USER_CHANGED_PARAM, &inst, params.list(), &extra, nullptr);
    // Values the plug-in marked as changed become the instance's values.
    std::lock_guard<std::mutex> lock(inst.mutex);
    for (std::size_t i = 1; i < params.defs.size(); ++i) {
        const PF_ParamDef& changed = params.defs[i];
        if (!(changed.uu.change_flags & PF_ChangeFlag_CHANGED_VALUE)) {
            continue;
        }
        PF_ParamDef& target = inst.values[i];
        switch (target.param_type) {
        case PF_Param_FLOAT_SLIDER: target.u.fs_d.value = changed.u.fs_d.value; break;
        case PF_Param_CHECKBOX: target.u.bd.value = changed.u.bd.value; break;
        case PF_Param_POPUP: target.u.pd.value = changed.u.pd.value; break;
        default: break;
        }
    }
    return r;
}

RenderResult HeadlessHost::render(InstanceId id, const PixelWorld& input, const RenderOptions& options) {
    Impl& h = *impl_;
    Instance& inst = h.instance(id);
    if (!inst.set_up) {
        throw HostError("cannot render instance " + std::to_string(id) + ": it is not set up");
    }
    Frame frame;
    frame.input = &input;
    frame.time = options.frame * h.options.time_step;
    frame.output = PixelWorld(input.width(), input.height(), input.depth());
    frame.output.setWriteable(true);
    bool whole = options.request.right <= options.request.left || options.request.bottom <= options.request.top;
    frame.request.rect = whole ? PF_LRect{0, 0, input.width(), input.height()} : options.request;
    frame.request.field = PF_Field_FRAME;
    frame.request.channel_mask = PF_ChannelMask_ARGB;
    if (h.options.render_commands == RenderCommands::NonSmart) {
        RenderResult result = h.renderNonSmart(inst, frame);
        result.output = std::move(frame.output);
        return result;
    }

    RenderResult result;
    PF_PreRenderInput pre_in{};
    pre_in.output_request = frame.request;
    pre_in.bitdepth = static_cast<short>(input.depth());
    PF_PreRenderOutput pre_out{};
    PF_PreRenderCallbacks pre_cb = preRenderCallbacks();
    PF_PreRenderExtra pre_extra{&pre_in, &pre_out, &pre_cb};
    result.pre_render = h.dispatch(PF_Cmd_SMART_PRE_RENDER, &inst, nullptr, &pre_extra, &frame);
    result.result_rect = pre_out.result_rect;
    result.max_result_rect = pre_out.max_result_rect;
    if (pre_out.pre_render_data) {
        h.books.with([](Books& b) { ++b.pre_render_data_handed_out; });
    }

    if (result.pre_render.ok()) {
        PF_SmartRenderInput render_in{};
        render_in.output_request = frame.request;
        render_in.bitdepth = static_cast<short>(input.depth());
        render_in.pre_render_data = pre_out.pre_render_data;
        PF_SmartRenderCallbacks render_cb = smartRenderCallbacks();
        PF_SmartRenderExtra render_extra{&render_in, &render_cb};
        result.render = h.dispatch(PF_Cmd_SMART_RENDER, &inst, nullptr, &render_extra, &frame);
    }

    // The frame is done: the host drops its pre-render data.
    if (pre_out.pre_render_data) {
        if (pre_out.delete_pre_render_data_func) {
            CurrentHostScope current(&h);
            try {
                pre_out.delete_pre_render_data_func(pre_out.pre_render_data);
            } catch (...) {
                h.noteMisuse("an exception escaped the pre-render data delete callback");
            }
            h.books.with([](Books& b) { ++b.pre_render_data_freed; });
        } else {
            h.books.with([](Books& b) { ++b.pre_render_data_dropped; });
        }
    }
    result.output = std::move(frame.output);
    return result;
}

CommandResult HeadlessHost::sendCommand(InstanceId id, PF_Cmd cmd) {
    Instance& inst = impl_->instance(id);
    ParamsCopy params(inst);
    return impl_->dispatch(cmd, &inst, params.list(), nullptr, nullptr);
}

CommandResult HeadlessHost::globalSetdown() {
    PF_OutData out{};
    CommandResult r = impl_->dispatch(PF_Cmd_GLOBAL_SETDOWN, nullptr, nullptr, nullptr, nullptr, &out);
    impl_->globally_set_up = false;
    impl_->global_data = nullptr;
    return r;
}

void HeadlessHost::requestAbort() noexcept { impl_->abort_requested.store(true); }
void HeadlessHost::clearAbort() noexcept { impl_->abort_requested.store(false); }

PF_OutFlags HeadlessHost::declaredOutFlags() const { return impl_->out_flags; }
PF_OutFlags2 HeadlessHost::declaredOutFlags2() const { return impl_->out_flags2; }
A_u_long HeadlessHost::declaredVersion() const { return impl_->my_version; }
SPBasicSuite* HeadlessHost::basicSuite() const { return &impl_->basic_suite; }

std::vector<char> HeadlessHost::sequenceData(InstanceId id) const {
    Instance& inst = impl_->instance(id);
    if (!inst.sequence_data || !handleAlive(inst.sequence_data)) {
        return {};
    }
    const char* data = *inst.sequence_data;
    return std::vector<char>(data, data + handleSize(inst.sequence_data));
}

std::string HeadlessHost::preference(const std::string& section, const std::string& key) const {
    return impl_->persistent.with([&](const Preferences& p) {
        auto s = p.find(section);
        if (s == p.end()) {
            return std::string();
        }
        auto k = s->second.find(key);
        return k == s->second.end() ? std::string() : k->second;
    });
}

bool HeadlessHost::hasPreference(const std::string& section, const std::string& key) const {
    return impl_->persistent.with([&](const Preferences& p) {
        auto s = p.find(section);
        return s != p.end() && s->second.count(key) != 0;
    });
}

void HeadlessHost::setPreference(const std::string& section, const std::string& key, const std::string& value) {
    impl_->persistent.with([&](Preferences& p) { p[section][key] = value; });
}

}  // namespace TEV::Host
