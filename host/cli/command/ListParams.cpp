#include <csignal>
#include <cstring>
#include <iomanip>
#include <ostream>

#include "command/Commands.h"
#include "run/FdStream.h"
#include "run/StopSignals.h"

namespace TEV::Host::Cli {

HostOptions hostOptionsFor(const CliOptions& options) {
    HostOptions host_options = options.premiere ? HostOptions::premiereWithoutAegp() : HostOptions{};
    host_options.iterate_threads = options.iterate_threads;
    host_options.downsample_x = PF_RationalScale{1, static_cast<A_u_long>(options.downsample)};
    host_options.downsample_y = host_options.downsample_x;
    return host_options;
}

namespace {

void printParam(const ParamInfo& p, std::ostream& out) {
    out << std::setw(3) << p.index << "  " << std::left << std::setw(26) << ("\"" + p.name + "\"") << std::right
        << "  " << p.type_name << ", id " << p.id;
    switch (p.type) {
    case PF_Param_FLOAT_SLIDER:
        out << ", default " << p.default_value << ", valid " << p.valid_min << " .. " << p.valid_max
            << ", slider " << p.slider_min << " .. " << p.slider_max << ", precision " << p.precision
            << ", display flags " << p.display_flags;
        break;
    case PF_Param_CHECKBOX:
        out << ", default " << (p.default_value ? "on" : "off");
        if (!p.label.empty()) {
            out << ", text \"" << p.label << "\"";
        }
        break;
    case PF_Param_POPUP: {
        out << ", default " << p.default_value << ", choices";
        for (std::size_t i = 0; i < p.choices.size(); ++i) {
            out << (i ? " | " : " ") << (i + 1) << " \"" << p.choices[i] << "\"";
        }
        break;
    }
    case PF_Param_BUTTON:
        out << ", label \"" << p.label << "\"";
        break;
    default:
        break;
    }
    if (p.flags) {
        out << ", flags 0x" << std::hex << p.flags << std::dec;
    }
    if (p.ui_flags) {
        out << ", ui flags 0x" << std::hex << p.ui_flags << std::dec;
    }
    out << "\n";
}

}  // namespace

int listParams(const CliOptions& options, std::ostream& out, std::ostream& err) {
    try {
        HeadlessHost host(hostOptionsFor(options));
        host.load(pluginLoadPath(options.plugin));
        PluginInfo info = host.pluginInfo();
        if (info.present) {
            out << info.name << " (" << info.match_name << "), category \"" << info.category << "\", API "
                << info.api_major << "." << info.api_minor << "\n";
        }
        host.globalSetup().expectOk();
        host.paramsSetup().expectOk();
        for (const ParamInfo& p : host.params()) {
            printParam(p, out);
        }
        host.globalSetdown().expectOk();
        out << std::flush;
        if (const int e = writeErrorOf(out)) {
            const auto* fd_out = dynamic_cast<const FdStream*>(&out);
            err << "tev-host: cannot write the parameters to " << (fd_out ? fd_out->name() : "standard output")
                << ": " << std::strerror(e) << "\n";
            return e == EPIPE ? exitStatusForSignal(SIGPIPE) : kExitFailed;
        }
        return kExitOk;
    } catch (const std::exception& e) {
        err << "tev-host: " << e.what() << "\n";
        return kExitFailed;
    }
}

}  // namespace TEV::Host::Cli
