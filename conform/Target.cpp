// How a check reaches the server under test.
#include "Check.h"

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

}  // namespace Conform
}  // namespace TEV
