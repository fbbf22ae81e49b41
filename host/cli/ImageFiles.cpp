#include "ImageFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

}  // namespace

bool isImageFileName(const std::string& path) {
    const std::string ext = lowerExtension(path);
    return ext == ".png" || ext == ".exr";
}

ImageFormat imageFormatOf(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == ".png") return ImageFormat::Png;
    if (ext == ".exr") return ImageFormat::Exr;
    throw HostError("'" + path + "' is neither a .png nor an .exr file");
}

ImageFile readImage(const std::string& path) {
    const ImageFormat format = imageFormatOf(path);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        throw HostError("image '" + path + "' does not exist");
    }
    return format == ImageFormat::Png ? readPngFile(path) : readExrFile(path);
}

void writeImage(const std::string& path, const PixelWorld& world, int png_bits) {
    if (imageFormatOf(path) == ImageFormat::Png) {
        writePngFile(path, world, png_bits);
    } else {
        writeExrFile(path, world);
    }
}

PixelWorld readPng(const std::string& path) { return readImage(path).world; }

void writePng(const std::string& path, const PixelWorld& world) { writePngFile(path, world, 8); }

}  // namespace TEV::Host::Cli
