#include <atomic>
#include <csignal>
#include <ostream>

#include "Commands.h"
#include "ImageFiles.h"

namespace TEV::Host::Cli {

namespace {

std::atomic<HeadlessHost*> g_abort_target{nullptr};

extern "C" void onInterrupt(int) {
    if (HeadlessHost* host = g_abort_target.load()) {
        host->requestAbort();  // stores an atomic flag: safe in a signal handler
    }
}

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

void setAbortTarget(HeadlessHost* host) {
    g_abort_target.store(host);
    std::signal(SIGINT, host ? &onInterrupt : SIG_DFL);
}

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

int renderImage(const CliOptions& options, std::ostream& out, std::ostream& err) {
    try {
        PixelWorld image = readPng(options.input);
        if (options.depth != 8) {
            image = image.convertedTo(options.depth);
        }
        HeadlessHost host(hostOptionsFor(options));
        host.load(options.plugin);
        host.globalSetup().expectOk();
        host.paramsSetup().expectOk();
        InstanceId inst = host.createInstance();
        for (const auto& [name, value] : options.set) {
            setParamFromText(host, inst, name, value);
        }
        RenderOptions render_options;
        render_options.frame = options.frame;
        setAbortTarget(&host);
        RenderResult result = host.render(inst, image, render_options);
        setAbortTarget(nullptr);
        int status = kExitOk;
        if (result.ok()) {
            writePng(options.output, result.output);
            out << "wrote " << options.output << " (" << image.width() << " x " << image.height() << ", rendered at "
                << options.depth << " bits)\n";
        } else {
            const CommandResult& failed = result.pre_render.ok() ? result.render : result.pre_render;
            err << "tev-host: " << failed.describe() << "\n";
            status = kExitFailed;
        }
        host.destroyInstance(inst);
        host.globalSetdown();
        if (options.books) {
            std::vector<std::string> report = host.unbalanced();
            out << (report.empty() ? "books: balanced\n" : "books: unbalanced\n");
            for (const std::string& line : report) {
                out << "  " << line << "\n";
            }
        }
        return status;
    } catch (const std::exception& e) {
        setAbortTarget(nullptr);
        err << "tev-host: " << e.what() << "\n";
        return kExitFailed;
    }
}

}  // namespace TEV::Host::Cli
