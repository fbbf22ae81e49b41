// Image record and its dictionary form.
#include <cstring>

#include "ImageDictionary.h"
#include "TEV.h"

namespace TEV {

Image::Image(unsigned short width, unsigned short height, unsigned short channels,
             unsigned short bit_depth, float pix_aspect_ratio, unsigned short rowbytes,
             float downsample)
    : width(width), height(height), channels(channels), bit_depth(bit_depth),
      pix_aspect_ratio(pix_aspect_ratio), rowbytes(rowbytes), downsample(downsample) {
    const std::size_t samples = std::size_t(width) * height * channels;
    if (bit_depth == 32)
        pixels = std::vector<float>(samples, 0.0f);
    else
        pixels = std::vector<unsigned char>(bit_depth == 16 ? samples * 2 : samples, 0);
}

std::size_t Image::sampleCount() const {
    if (const auto* f = std::get_if<std::vector<float>>(&pixels)) return f->size();
    const auto& b = std::get<std::vector<unsigned char>>(pixels);
    return bit_depth == 16 ? b.size() / 2 : b.size();
}

namespace detail {

void readImageFields(const Dict& entries, Image& image, bool ratios_from_int) {
    auto u16 = [&](const char* key) { return static_cast<unsigned short>(entries.getInt(key, 0)); };
    auto ratio = [&](const char* key) {
        const Dict& e = entries.get(key);
        if (e.type == Dict::Float) return static_cast<float>(std::get<double>(e.value));
        if (ratios_from_int && e.type == Dict::Int)
            return static_cast<float>(std::get<long long>(e.value));
        return 1.0f;
    };
    image.width = u16("width");
    image.height = u16("height");
    image.channels = u16("channels");
    image.bit_depth = u16("bit_depth");
    image.rowbytes = u16("rowbytes");
    image.pix_aspect_ratio = ratio("pix_aspect_ratio");
    image.downsample = ratio("downsample");
}

bool readFloatSamples(const Dict& pixels, std::vector<float>& out) {
    if (pixels.type == Dict::Array) {
        out.clear();
        const auto& items = std::get<std::vector<Dict>>(pixels.value);
        out.reserve(items.size());
        for (const Dict& item : items) {
            if (item.type == Dict::Int)
                out.push_back(static_cast<float>(std::get<long long>(item.value)));
            else if (item.type == Dict::Float)
                out.push_back(static_cast<float>(std::get<double>(item.value)));
        }
        return true;
    }
    if (pixels.type == Dict::Bytes) {
        // The float store travels as Bytes; a trailing partial float is dropped.
        // Resized without clearing first: a reused store of the right size is
        // overwritten, not zero-filled and then overwritten.
        const auto& bytes = std::get<std::vector<char>>(pixels.value);
        out.resize(bytes.size() / sizeof(float));
        if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
        return true;
    }
    return false;
}

Dict canonicalImageDict(const Image& f, std::vector<char>&& pixel_bytes, bool float_store) {
    Dict d;
    d["TEV_Dict_Type"] = "Image";
    d["width"] = static_cast<long long>(f.width);
    d["height"] = static_cast<long long>(f.height);
    d["channels"] = static_cast<long long>(f.channels);
    d["bit_depth"] = static_cast<long long>(f.bit_depth);
    d["pix_aspect_ratio"] = static_cast<double>(f.pix_aspect_ratio);
    d["rowbytes"] = static_cast<long long>(f.rowbytes);
    d["downsample"] = static_cast<double>(f.downsample);
    d["pixels"] = Dict(std::move(pixel_bytes));
    d["pixels_type"] = float_store ? "float" : "uint8";
    return d;
}

}  // namespace detail

Dict::Dict(const Image& image) : Dict() {
    std::vector<char> bytes;
    bool float_store = false;
    if (const auto* f = std::get_if<std::vector<float>>(&image.pixels)) {
        float_store = true;
        bytes.resize(f->size() * sizeof(float));
        if (!bytes.empty()) std::memcpy(bytes.data(), f->data(), bytes.size());
    } else {
        const auto& b = std::get<std::vector<unsigned char>>(image.pixels);
        bytes.assign(b.begin(), b.end());
    }
    *this = detail::canonicalImageDict(image, std::move(bytes), float_store);
}

bool Dict::isImage() const {
    return type == Map && contains("width") && contains("height") && contains("channels") &&
           contains("bit_depth") && contains("pixels");
}

Image Dict::asImage() const { return asImage(Image()); }

Image Dict::asImage(Image&& storage) const {
    // Only the store's memory is reused: every field starts as a default Image's.
    std::vector<unsigned char> byte_store;
    std::vector<float> float_store;
    if (auto* b = std::get_if<std::vector<unsigned char>>(&storage.pixels)) byte_store = std::move(*b);
    if (auto* f = std::get_if<std::vector<float>>(&storage.pixels)) float_store = std::move(*f);
    Image image;
    if (!isImage()) return image;
    detail::readImageFields(*this, image, /*ratios_from_int=*/true);
    const Dict& pixels = get("pixels");
    if (image.bit_depth == 32) {
        if (detail::readFloatSamples(pixels, float_store)) image.pixels = std::move(float_store);
    } else if (pixels.type == Bytes) {
        const auto& bytes = std::get<std::vector<char>>(pixels.value);
        byte_store.resize(bytes.size());
        if (!bytes.empty()) std::memcpy(byte_store.data(), bytes.data(), bytes.size());
        image.pixels = std::move(byte_store);
    }
    return image;
}

ByteSpan sampleBytes(const Image& image) {
    if (const auto* f = std::get_if<std::vector<float>>(&image.pixels))
        return {reinterpret_cast<const char*>(f->data()), f->size() * sizeof(float)};
    const auto& b = std::get<std::vector<unsigned char>>(image.pixels);
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

Dict imageDictWithoutSamples(const Image& image) {
    return detail::canonicalImageDict(image, {}, std::holds_alternative<std::vector<float>>(image.pixels));
}

}  // namespace TEV
