// The client object: libcurl's counted global state, the handle, identity.
#include "RestClient.h"

#include "Diagnostics.h"
#include "TEVLocations.h"

namespace TEV {
namespace Rest {

std::atomic<std::int32_t> Client::curl_init_count{0};
std::mutex Client::curl_init_mutex;

std::size_t WriteCallback(void* data, std::size_t size, std::size_t nmemb, std::string* target) {
    const std::size_t bytes = size * nmemb;
    target->append(static_cast<const char*>(data), bytes);
    return bytes;
}

bool Client::initCURL() {
    std::lock_guard<std::mutex> lock(curl_init_mutex);
    if (curl_init_count.load() == 0) {
        const CURLcode rc = curl_global_init(CURL_GLOBAL_ALL);
        if (rc != CURLE_OK) {
            detail::printLine(std::string("CURL GLOBAL INIT FAILED: ") + curl_easy_strerror(rc));
            return false;
        }
    }
    curl_init_count.fetch_add(1);
    return true;
}

void Client::cleanupCURL() {
    std::lock_guard<std::mutex> lock(curl_init_mutex);
    if (curl_init_count.load() < 1) return;
    if (curl_init_count.fetch_sub(1) == 1) curl_global_cleanup();
}

std::int32_t Client::curlReferences() { return curl_init_count.load(); }

Client::Client() : Client(TEV_SERVER_PORT, true) {}

Client::Client(std::int32_t port) : Client(port, false) {}

Client::Client(std::int32_t server_port, bool launches)
    : lib_version(getImplementationVersion()), port(server_port), launches_server(launches) {
    holds_curl_reference = initCURL();
    if (!holds_curl_reference) detail::printLine("Failed to initialize cURL globally");
    curl_handle = curl_easy_init();
    if (curl_handle == nullptr) detail::printLine("CANT INIT CURL");
}

Client::~Client() {
    reapLaunchedServers();
    if (curl_handle != nullptr) {
        curl_easy_cleanup(curl_handle);
        curl_handle = nullptr;
    }
    // Only a reference this client took is given back: releasing one it never
    // got would tear libcurl down under another live client.
    if (holds_curl_reference) cleanupCURL();
}

std::unique_ptr<Client> create_client() {
    auto client = std::make_unique<Client>();
    client->valid = true;
    return client;
}

std::string Client::get_endpoint() const { return base_url + ":" + std::to_string(port) + "/api"; }

void Client::send_dict(Dict& request) { send_and_receive_dict(request); }

void Client::setPluginId(std::string id) {
    std::lock_guard<std::mutex> lock(identity_mutex);
    plugin_id = std::move(id);
}

std::string Client::getPluginId() {
    std::lock_guard<std::mutex> lock(identity_mutex);
    return plugin_id;
}

void Client::setPluginVersion(std::string version) {
    std::lock_guard<std::mutex> lock(identity_mutex);
    plugin_version = std::move(version);
}

std::string Client::getPluginVersion() {
    std::lock_guard<std::mutex> lock(identity_mutex);
    return plugin_version;
}

void Client::setPlugin(const std::string& id, const std::string& version) {
    std::lock_guard<std::mutex> lock(identity_mutex);
    plugin_id = id;
    plugin_version = version;
}

namespace {

// Byte blocks smaller than this are not worth keeping.
constexpr std::size_t kMinRecycledBytes = std::size_t(1) << 20;

}  // namespace

std::vector<char> Client::takeSpareBin() {
    std::lock_guard<std::mutex> lock(spare_mutex);
    return std::move(spare_bin);
}

void Client::keepSpareBin(std::vector<char>&& block) noexcept {
    if (block.capacity() < kMinRecycledBytes) return;
    std::lock_guard<std::mutex> lock(spare_mutex);
    if (block.capacity() > spare_bin.capacity()) spare_bin = std::move(block);
}

void Client::recycle(Dict&& reply) {
    // The largest Bytes of the tree, found without recursion.
    std::vector<Dict*> stack{&reply};
    std::vector<char>* largest = nullptr;
    while (!stack.empty()) {
        Dict* node = stack.back();
        stack.pop_back();
        if (node->type == Dict::Bytes) {
            auto& bytes = std::get<std::vector<char>>(node->value);
            if (!largest || bytes.capacity() > largest->capacity()) largest = &bytes;
        } else if (node->type == Dict::Array) {
            for (Dict& item : std::get<std::vector<Dict>>(node->value)) stack.push_back(&item);
        } else if (node->type == Dict::Map) {
            for (auto& entry : std::get<std::map<std::string, Dict>>(node->value)) stack.push_back(&entry.second);
        }
    }
    if (largest) keepSpareBin(std::move(*largest));
    Dict gone(std::move(reply));  // the rest is freed here
}

void Client::setRenderTimeout(int seconds) { render_timeout.store(seconds); }

int Client::getRenderTimeout() const { return render_timeout.load(); }

void Client::setMaxReplyBytes(std::uint64_t bytes) { max_reply_bytes.store(bytes); }

}  // namespace Rest
}  // namespace TEV
