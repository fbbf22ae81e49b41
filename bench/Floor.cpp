#include "Floor.h"

#include <chrono>
#include <cstring>
#include <stdexcept>

#include <msgpack.hpp>

#include "Measure.h"

namespace TEV::Bench {

namespace {

std::size_t appendBody(char* data, std::size_t size, std::size_t nmemb, void* target) {
    static_cast<std::string*>(target)->append(data, size * nmemb);
    return size * nmemb;
}

const msgpack::object* entry(const msgpack::object* map, const char* key) {
    if (!map || map->type != msgpack::type::MAP) return nullptr;
    const std::size_t n = std::strlen(key);
    for (std::uint32_t i = 0; i < map->via.map.size; ++i) {
        const msgpack::object& k = map->via.map.ptr[i].key;
        if (k.type == msgpack::type::STR && k.via.str.size == n && std::memcmp(k.via.str.ptr, key, n) == 0)
            return &map->via.map.ptr[i].val;
    }
    return nullptr;
}

}  // namespace

Floor::Floor(int port, std::vector<char> request, std::size_t pixel_offset, std::size_t pixel_bytes)
    : url_("http://127.0.0.1:" + std::to_string(port) + "/api"),
      request_(std::move(request)),
      pixel_offset_(pixel_offset),
      pixel_bytes_(pixel_bytes) {
    curl_ = curl_easy_init();
    if (!curl_) throw std::runtime_error("floor: curl_easy_init failed");
    headers_ = curl_slist_append(headers_, "Content-Type: application/x-msgpack");
    headers_ = curl_slist_append(headers_, "Expect:");
    curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(curl_, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(curl_, CURLOPT_UPLOAD_BUFFERSIZE, 2L * 1024 * 1024);
    curl_easy_setopt(curl_, CURLOPT_PROXY, "");
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, request_.data());
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.size()));
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &appendBody);
}

Floor::~Floor() {
    curl_slist_free_all(headers_);
    if (curl_) curl_easy_cleanup(curl_);
}

Floor::Times Floor::round(const char* frame, char* out) {
    const double cpu_start = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::memcpy(request_.data() + pixel_offset_, frame, pixel_bytes_);

    std::string reply;
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, static_cast<void*>(&reply));
    const CURLcode rc = curl_easy_perform(curl_);
    if (rc != CURLE_OK) throw std::runtime_error(std::string("floor: ") + curl_easy_strerror(rc));

    const msgpack::object_handle handle = msgpack::unpack(reply.data(), reply.size());
    const msgpack::object* root = &handle.get();
    const msgpack::object* pixels = entry(entry(entry(entry(root, "result"), "result"), "image"), "pixels");
    if (!pixels || pixels->type != msgpack::type::BIN || pixels->via.bin.size != pixel_bytes_)
        throw std::runtime_error("floor: the reply holds no image of the frame's size");
    std::memcpy(out, pixels->via.bin.ptr, pixel_bytes_);
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            processCpuSeconds() - cpu_start};
}

}  // namespace TEV::Bench
