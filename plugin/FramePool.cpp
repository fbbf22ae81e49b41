#include "FramePool.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

// Takes the smallest spare holding at least `n` elements, or an empty store.
template <class Store>
Store take(std::vector<Store>& spares, std::size_t n) {
    auto best = spares.end();
    for (auto it = spares.begin(); it != spares.end(); ++it)
        if (it->capacity() >= n && (best == spares.end() || it->capacity() < best->capacity())) best = it;
    if (best == spares.end()) return Store();
    Store store = std::move(*best);
    spares.erase(best);
    return store;
}

template <class Store>
std::size_t bytesOf(const Store& store) {
    return store.capacity() * sizeof(typename Store::value_type);
}

// The smallest store of `spares`, as an iterator, and its size in bytes.
template <class Store>
std::pair<typename std::vector<Store>::iterator, std::size_t> smallest(std::vector<Store>& spares) {
    auto it = std::min_element(spares.begin(), spares.end(),
                               [](const Store& a, const Store& b) { return a.capacity() < b.capacity(); });
    return {it, it == spares.end() ? SIZE_MAX : bytesOf(*it)};
}

}  // namespace

TEV::Image FramePool::image(unsigned short width, unsigned short height, unsigned short channels,
                            unsigned short bit_depth, float pix_aspect_ratio, unsigned short rowbytes,
                            float downsample) {
    TEV::Image image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.bit_depth = bit_depth;
    image.pix_aspect_ratio = pix_aspect_ratio;
    image.rowbytes = rowbytes;
    image.downsample = downsample;
    const std::size_t samples = std::size_t(width) * height * channels;
    if (bit_depth == 32) {
        std::vector<float> store;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            store = take(floats_, samples);
        }
        store.assign(samples, 0.0f);  // within the spare's capacity: no new memory
        image.pixels = std::move(store);
    } else {
        const std::size_t bytes = bit_depth == 16 ? samples * 2 : samples;
        std::vector<unsigned char> store;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            store = take(bytes_, bytes);
        }
        store.assign(bytes, 0);
        image.pixels = std::move(store);
    }
    return image;
}

void FramePool::giveBack(TEV::Image& image) {
    std::vector<unsigned char> bytes;
    std::vector<float> floats;
    if (auto* b = std::get_if<std::vector<unsigned char>>(&image.pixels)) bytes = std::move(*b);
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels)) floats = std::move(*f);
    image.pixels = std::vector<unsigned char>();
    const std::size_t size = std::max(bytesOf(bytes), bytesOf(floats));
    if (size < kMinPooledBytes) return;

    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes_.size() + floats_.size() >= kMaxSpares) {
        // Full: the new store replaces the smallest one kept, if it is larger.
        auto small_bytes = smallest(bytes_);
        auto small_floats = smallest(floats_);
        if (std::min(small_bytes.second, small_floats.second) >= size) return;
        if (small_bytes.second <= small_floats.second)
            bytes_.erase(small_bytes.first);
        else
            floats_.erase(small_floats.first);
    }
    if (bytes.capacity()) bytes_.push_back(std::move(bytes));
    if (floats.capacity()) floats_.push_back(std::move(floats));
}

std::size_t FramePool::spares() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_.size() + floats_.size();
}
