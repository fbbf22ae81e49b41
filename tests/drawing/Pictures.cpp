#include "Pictures.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace drawing_test {

namespace {

float fullScale(const TEV::Image& image) {
    if (std::holds_alternative<std::vector<float>>(image.pixels)) return 1.0f;
    return image.bit_depth == 16 ? 32768.0f : 255.0f;
}

// Stores `v` as it is (integer stores truncate).
void setStored(TEV::Image& image, std::size_t i, float v) {
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels)) {
        (*f)[i] = v;
    } else if (image.bit_depth == 16) {
        const auto s = static_cast<std::uint16_t>(v);
        std::memcpy(std::get<0>(image.pixels).data() + 2 * i, &s, 2);
    } else {
        std::get<0>(image.pixels)[i] = static_cast<unsigned char>(v);
    }
}

}  // namespace

TEV::Image filledImage(unsigned short width, unsigned short height, unsigned short channels,
                       unsigned short bit_depth, float colour, float alpha) {
    TEV::Image image(width, height, channels, bit_depth, 1.0f, 0, 1.0f);
    for (std::size_t i = 0; i < image.sampleCount(); ++i)
        setStored(image, i, channels == 4 && i % 4 == 3 ? alpha : colour);
    return image;
}

TEV::Image rampImage(unsigned short width, unsigned short height, unsigned short bit_depth) {
    TEV::Image image(width, height, 3, bit_depth, 1.0f, 0, 1.0f);
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x)
            for (std::size_t s = 0; s < 3; ++s)
                setStored(image, (y * width + x) * 3 + s,
                          fullScale(image) *
                              (0.15f + 0.7f * float(x) / float(width) * (s == 2 ? 0.8f : 1.0f)));
    return image;
}

float sampleAt(const TEV::Image& image, int x, int y, int s) {
    const std::size_t i = (std::size_t(y) * image.width + std::size_t(x)) * image.channels + s;
    if (const auto* f = std::get_if<std::vector<float>>(&image.pixels)) return f->at(i);
    const auto& bytes = std::get<0>(image.pixels);
    if (image.bit_depth == 16) {
        std::uint16_t v;
        if (2 * i + 2 > bytes.size()) throw std::out_of_range("sample beyond the store");
        std::memcpy(&v, bytes.data() + 2 * i, 2);
        return v;
    }
    return bytes.at(i);
}

std::array<float, 3> rgbAt(const TEV::Image& image, int x, int y) {
    return {sampleAt(image, x, y, 0), sampleAt(image, x, y, 1), sampleAt(image, x, y, 2)};
}

std::string writePicture(const TEV::Image& image, const std::string& name) {
    std::filesystem::create_directories(TEV_PICTURE_DIR);
    const std::string path = std::string(TEV_PICTURE_DIR) + "/" + name + ".png";
    const float full = fullScale(image);
    std::vector<unsigned char> out(std::size_t(image.width) * image.height * image.channels);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            for (int s = 0; s < image.channels; ++s) {
                const float v = std::clamp(sampleAt(image, x, y, s) / full, 0.0f, 1.0f);
                out[(std::size_t(y) * image.width + x) * image.channels + s] =
                    static_cast<unsigned char>(v * 255.0f + 0.5f);
            }
    if (!stbi_write_png(path.c_str(), image.width, image.height, image.channels, out.data(),
                        image.width * image.channels))
        throw std::runtime_error("could not write " + path);
    return path;
}

}  // namespace drawing_test

namespace drawing_test {

namespace {

bool isInk(const TEV::Image& image, int x, int y, float background) {
    const std::array<float, 3> rgb = rgbAt(image, x, y);
    return rgb[0] != background || rgb[1] != background || rgb[2] != background;
}

}  // namespace

std::vector<InkRun> inkRuns(const TEV::Image& image, int x_from, float background, int y_from,
                            int y_to) {
    std::vector<InkRun> runs;
    for (int y = std::max(0, y_from); y < std::min<int>(image.height, y_to); ++y) {
        bool ink = false;
        for (int x = x_from; x < image.width && !ink; ++x) ink = isInk(image, x, y, background);
        if (!ink) continue;
        if (!runs.empty() && runs.back().last == y - 1)
            runs.back().last = y;
        else
            runs.push_back({y, y});
    }
    return runs;
}

std::pair<int, int> inkColumns(const TEV::Image& image, int x_from, float background, int y_from,
                               int y_to) {
    int left = -1, right = -1;
    for (int y = std::max(0, y_from); y < std::min<int>(image.height, y_to); ++y)
        for (int x = x_from; x < image.width; ++x)
            if (isInk(image, x, y, background)) {
                if (left < 0 || x < left) left = x;
                right = std::max(right, x);
            }
    return {left, right};
}

}  // namespace drawing_test
