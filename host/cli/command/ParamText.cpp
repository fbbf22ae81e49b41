// Parameters set from the command line's text.
#include "command/Commands.h"

namespace TEV::Host::Cli {

namespace {

bool parseNumber(const std::string& text, double& value) {
    try {
        std::size_t used = 0;
        value = std::stod(text, &used);
        return used == text.size();
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

void setParamFromText(HeadlessHost& host, InstanceId inst, const std::string& name, const std::string& text) {
    int index = host.paramIndex(name);
    const ParamInfo info = host.params()[index];
    double number = 0;
    if (info.type == PF_Param_CHECKBOX && (text == "on" || text == "true")) {
        number = 1;
    } else if (info.type == PF_Param_CHECKBOX && (text == "off" || text == "false")) {
        number = 0;
    } else if (!parseNumber(text, number)) {
        if (info.type == PF_Param_POPUP) {
            host.setParamChoice(inst, name, text);
            return;
        }
        throw HostError("parameter \"" + name + "\" needs a number, not '" + text + "'");
    }
    host.setParam(inst, index, number);
}

}  // namespace TEV::Host::Cli
