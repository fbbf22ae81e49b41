// How a check reaches the server under test.
#include "Check.h"
#include "Frames.h"

namespace TEV {
namespace Conform {

namespace {

// The plug-in's identity, as its global setup gives it to its client: the
// checker presents itself exactly as the plug-in does.
const char* const kPluginId = "ExamplePlugin";
const char* const kPluginVersion = "1.0.0";

}  // namespace

std::unique_ptr<Rest::Client> Target::connect() const {
    auto client = std::make_unique<Rest::Client>(port);
    client->valid = true;
    client->setPlugin(kPluginId, kPluginVersion);
    client->setRenderTimeout(timeout_seconds);
    return client;
}

Dict Target::renderParams() const {
    Dict all = defaultRenderParams();
    for (const auto& [name, value] : params) all[name] = value;
    return all;
}

Dict Target::workingParams() const {
    Dict all = renderParams();
    const Dict working = workingParamValues();
    for (const auto& [name, value] : std::get<std::map<std::string, Dict>>(working.value))
        if (params.count(name) == 0) all[name] = value;
    return all;
}

}  // namespace Conform
}  // namespace TEV
