#include "files/ImageFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "files/SafeFile.h"
#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// A message about the temporary file, told of the file it stands for.
std::string withPath(std::string message, const std::string& temp, const std::string& path) {
    for (std::size_t at = message.find(temp); at != std::string::npos; at = message.find(temp, at + path.size())) {
        message.replace(at, temp.size(), path);
    }
    return message;
}

// The extensions read and written through OpenImageIO.
bool isOiioExtension(const std::string& ext) {
    for (const char* known : {".tif", ".tiff", ".dpx", ".jpg", ".jpeg", ".tga"}) {
        if (ext == known) return true;
    }
    return false;
}

}  // namespace

bool isImageFileName(const std::string& path) {
    const std::string ext = lowerExtension(path);
    return ext == ".png" || ext == ".exr" || isOiioExtension(ext);
}

ImageFormat imageFormatOf(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == ".png") return ImageFormat::Png;
    if (ext == ".exr") return ImageFormat::Exr;
    if (isOiioExtension(ext)) return ImageFormat::Oiio;
    throw HostError("'" + path + "' is not an image file tev-host knows (.png, .exr, .tif, .tiff, .dpx, .jpg, .jpeg, .tga)");
}

ImageFile readImage(const std::string& path, const std::string& layer) {
    const ImageFormat format = imageFormatOf(path);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        throw HostError("image '" + path + "' does not exist");
    }
    if (format != ImageFormat::Exr && !layer.empty()) {
        throw HostError("image '" + path + "' is not an EXR file: it has no layer '" + layer + "'");
    }
    switch (format) {
    case ImageFormat::Png: return readPngFile(path);
    case ImageFormat::Exr: return readExrFile(path, layer);
    default: return readOiioFile(path);
    }
}

std::string readImageTag(const std::string& path, const std::string& key) {
    switch (imageFormatOf(path)) {
    case ImageFormat::Png: return readPngTag(path, key);
    case ImageFormat::Exr: return readExrTag(path, key);
    default: return readOiioTag(path, key);
    }
}

void writeImage(const std::string& path, const PixelWorld& world, int png_bits, const ExrLayout* exr) {
    ImageWriteOptions options;
    options.png_bits = png_bits;
    writeImage(path, world, options, exr);
}

void writeImage(const std::string& path, const PixelWorld& world, const ImageWriteOptions& options,
                const ExrLayout* exr) {
    const ImageFormat format = imageFormatOf(path);
    replaceFile(path, [&](const std::string& temp) {
        try {
            if (format == ImageFormat::Png) {
                writePngFile(temp, world, options);
            } else if (format == ImageFormat::Exr) {
                writeExrFile(temp, world, exr, options);
            } else {
                writeOiioFile(temp, world, options, path);
            }
        } catch (const WriteError& e) {
            throw WriteError(withPath(e.what(), temp, path), e.errorNumber());
        } catch (const HostError& e) {
            throw HostError(withPath(e.what(), temp, path));
        }
    });
}

}  // namespace TEV::Host::Cli
