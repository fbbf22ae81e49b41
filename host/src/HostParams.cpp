// Parameter queries and changes made by the host's user (tests, the CLI).
#include <cmath>
#include <cstring>
#include <sstream>

#include "HostImpl.h"

namespace TEV::Host {

namespace {

std::string typeName(PF_ParamType type) {
    switch (type) {
    case PF_Param_LAYER: return "layer";
    case PF_Param_SLIDER: return "slider";
    case PF_Param_FIX_SLIDER: return "fixed slider";
    case PF_Param_ANGLE: return "angle";
    case PF_Param_CHECKBOX: return "checkbox";
    case PF_Param_COLOR: return "color";
    case PF_Param_POINT: return "point";
    case PF_Param_POPUP: return "popup";
    case PF_Param_NO_DATA: return "no data";
    case PF_Param_FLOAT_SLIDER: return "float slider";
    case PF_Param_ARBITRARY_DATA: return "arbitrary data";
    case PF_Param_PATH: return "path";
    case PF_Param_GROUP_START: return "group start";
    case PF_Param_GROUP_END: return "group end";
    case PF_Param_BUTTON: return "button";
    case PF_Param_POINT_3D: return "3D point";
    default: return "type " + std::to_string(type);
    }
}

std::vector<std::string> splitChoices(const std::string& list) {
    std::vector<std::string> out;
    std::stringstream ss(list);
    std::string item;
    while (std::getline(ss, item, '|')) {
        out.push_back(item);
    }
    return out;
}

// Describes `def` (values included) at `index`.
ParamInfo describe(int index, const PF_ParamDef& def, A_long id, const RegisteredParam& reg) {
    ParamInfo p;
    p.index = index;
    p.name = std::string(def.name, strnlen(def.name, sizeof(def.name)));
    p.type = def.param_type;
    p.type_name = typeName(def.param_type);
    p.id = id;
    p.flags = def.flags;
    p.ui_flags = def.ui_flags;
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER: {
        const PF_FloatSliderDef& fs = def.u.fs_d;
        p.default_value = fs.dephault;
        p.value = fs.value;
        p.valid_min = fs.valid_min;
        p.valid_max = fs.valid_max;
        p.slider_min = fs.slider_min;
        p.slider_max = fs.slider_max;
        p.precision = fs.precision;
        p.display_flags = fs.display_flags;
        break;
    }
    case PF_Param_CHECKBOX:
        p.default_value = def.u.bd.dephault;
        p.value = def.u.bd.value;
        p.valid_min = 0;
        p.valid_max = 1;
        p.label = reg.label;
        break;
    case PF_Param_POPUP:
        p.default_value = def.u.pd.dephault;
        p.value = def.u.pd.value;
        p.choices = splitChoices(reg.choices);
        p.valid_min = 1;
        p.valid_max = def.u.pd.num_choices;
        break;
    case PF_Param_BUTTON:
        p.label = reg.label;
        break;
    default:
        break;
    }
    return p;
}

}  // namespace

bool ParamInfo::has_value() const {
    return type == PF_Param_FLOAT_SLIDER || type == PF_Param_CHECKBOX || type == PF_Param_POPUP;
}

std::vector<ParamInfo> HeadlessHost::params() const {
    std::vector<ParamInfo> out;
    for (std::size_t i = 0; i < impl_->registered.size(); ++i) {
        const RegisteredParam& reg = *impl_->registered[i];
        out.push_back(describe(static_cast<int>(i), reg.def, reg.def.uu.id, reg));
    }
    return out;
}

std::vector<ParamInfo> HeadlessHost::params(InstanceId id) const {
    Instance& inst = impl_->instance(id);
    std::vector<ParamInfo> out;
    std::lock_guard<std::mutex> lock(inst.mutex);
    for (std::size_t i = 0; i < inst.values.size(); ++i) {
        const RegisteredParam& reg = *impl_->registered[i];
        ParamInfo p = describe(static_cast<int>(i), inst.values[i], reg.def.uu.id, reg);
        p.hidden = inst.hidden[i];
        out.push_back(std::move(p));
    }
    return out;
}

int HeadlessHost::paramIndex(const std::string& name) const {
    for (std::size_t i = 0; i < impl_->registered.size(); ++i) {
        const PF_ParamDef& def = impl_->registered[i]->def;
        if (name == std::string(def.name, strnlen(def.name, sizeof(def.name)))) {
            return static_cast<int>(i);
        }
    }
    std::string known;
    for (const auto& reg : impl_->registered) {
        known += (known.empty() ? "\"" : ", \"") + std::string(reg->def.name) + "\"";
    }
    throw HostError("no parameter named \"" + name + "\" (parameters: " + known + ")");
}

void HeadlessHost::setParam(InstanceId id, const std::string& name, double value) {
    setParam(id, paramIndex(name), value);
}

void HeadlessHost::setParam(InstanceId id, int index, double value) {
    Instance& inst = impl_->instance(id);
    std::lock_guard<std::mutex> lock(inst.mutex);
    if (index < 1 || index >= static_cast<int>(inst.values.size())) {
        throw HostError("no parameter " + std::to_string(index) + " to set");
    }
    PF_ParamDef& def = inst.values[index];
    std::string where = "parameter " + std::to_string(index) + " (\"" + def.name + "\")";
    auto range = [&](double lo, double hi) {
        if (!(value >= lo && value <= hi)) {
            std::ostringstream msg;
            msg << where << ": value " << value << " outside " << lo << " .. " << hi;
            throw HostError(msg.str());
        }
    };
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
        range(def.u.fs_d.valid_min, def.u.fs_d.valid_max);
        def.u.fs_d.value = value;
        break;
    case PF_Param_CHECKBOX:
        if (value != 0 && value != 1) {
            throw HostError(where + ": a checkbox takes 0 or 1");
        }
        def.u.bd.value = static_cast<PF_ParamValue>(value);
        break;
    case PF_Param_POPUP:
        range(1, def.u.pd.num_choices);
        if (value != std::floor(value)) {
            throw HostError(where + ": a popup takes a whole item number");
        }
        def.u.pd.value = static_cast<PF_ParamValue>(value);
        break;
    default:
        throw HostError(where + " is a " + typeName(def.param_type) + " and has no value to set");
    }
}

void HeadlessHost::setParamChoice(InstanceId id, const std::string& name, const std::string& choice) {
    int index = paramIndex(name);
    const RegisteredParam& reg = *impl_->registered[index];
    if (reg.def.param_type != PF_Param_POPUP) {
        throw HostError("parameter \"" + name + "\" is not a popup");
    }
    std::vector<std::string> choices = splitChoices(reg.choices);
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (choices[i] == choice) {
            setParam(id, index, static_cast<double>(i + 1));
            return;
        }
    }
    throw HostError("popup \"" + name + "\" has no choice \"" + choice + "\" (choices: " + reg.choices + ")");
}

double HeadlessHost::paramValue(InstanceId id, const std::string& name) const {
    return paramValue(id, paramIndex(name));
}

double HeadlessHost::paramValue(InstanceId id, int index) const {
    std::vector<ParamInfo> all = params(id);
    if (index < 0 || index >= static_cast<int>(all.size())) {
        throw HostError("no parameter " + std::to_string(index));
    }
    return all[index].value;
}

bool HeadlessHost::paramHidden(InstanceId id, int index) const {
    Instance& inst = impl_->instance(id);
    std::lock_guard<std::mutex> lock(inst.mutex);
    if (index < 0 || index >= static_cast<int>(inst.hidden.size())) {
        throw HostError("no parameter " + std::to_string(index));
    }
    return inst.hidden[index];
}

}  // namespace TEV::Host
