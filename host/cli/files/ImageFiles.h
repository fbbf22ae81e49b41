// Image files in and out of pixel worlds: PNG (8 and 16 bits per channel,
// libpng) and OpenEXR (read from any pixel type, written as 32-bit float).
//
// Sample scales: an 8-bit PNG maps 0..255 onto an 8-bit world unchanged; a
// 16-bit PNG's 0..65535 maps onto the host's 16-bit 0..32768 (rounded to
// nearest, so world -> file -> world is exact); EXR floats are copied
// unchanged. Alpha is straight; files without alpha read as opaque. Writing a
// world into a PNG of another depth scales through 0..1 and rounds to nearest,
// clamping floats outside 0..1.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tevhost/PixelWorld.h"

namespace TEV::Host::Cli {

enum class ImageFormat { Png, Exr };

// The format a file name's extension (.png, .exr, any case) selects.
// HostError naming the file for any other extension.
ImageFormat imageFormatOf(const std::string& path);
// True for a name that imageFormatOf() accepts.
bool isImageFileName(const std::string& path);

// What an EXR file holds beside its pixels, kept so that the output is
// written back in the same place: the world is the data window's pixels.
struct ExrLayout {
    PF_LRect data_window{};     // left, top, right, bottom (inclusive), as in the file
    PF_LRect display_window{};
    float pixel_aspect = 1.0f;
    bool half = false;          // the colour channels were half floats
};

struct ImageFile {
    PixelWorld world;  // at the depth that matches the file (below)
    int file_bits = 8; // 8 or 16 for PNG, 32 for EXR
    std::shared_ptr<const ExrLayout> exr;  // EXR files only
};

// Reads a PNG (any colour type, 1 to 16 bits: grey, palette and low depths
// expand to RGB(A) at 8 bits) into an 8- or 16-bit world, or an EXR (channels
// R, G, B and optional A, or Y and optional A; those of `layer`, such as
// "diffuse.R", when one is named) into a float world of its data window.
// HostError naming the file for a missing, unreadable or oversized image, and
// naming the channels it does have when the ones needed are missing.
ImageFile readImage(const std::string& path, const std::string& layer = "");

// Text entries of a file's header: PNG tEXt chunks (before the pixels),
// EXR string attributes. Keys are 1 to 79 printable Latin-1 characters.
using ImageTags = std::vector<std::pair<std::string, std::string>>;

// The mark of a frame written with the plug-in's failure overlay on it.
inline constexpr char kVerdictTag[] = "tev-host verdict";
inline constexpr char kOverlayVerdict[] = "overlay";

// The value of the text entry `key` of an image file (reading its header
// only); "" when there is none or the file can't be read.
std::string readImageTag(const std::string& path, const std::string& key);

// Writes a world of any depth. png_bits (8 or 16) applies to PNG files; EXR
// files are RGBA 32-bit float, or laid out as `exr` says (windows, pixel
// aspect, half channels) when it is given. The file appears complete under its name or
// not at all (replaceFile). HostError naming the file when it cannot be
// written; WriteError, with the system's error number, when writing failed.
// `tags` go into the file's header.
void writeImage(const std::string& path, const PixelWorld& world, int png_bits, const ExrLayout* exr = nullptr,
                const ImageTags& tags = {});

// The PNG and EXR halves of readImage/writeImage.
ImageFile readPngFile(const std::string& path);
void writePngFile(const std::string& path, const PixelWorld& world, int bits, const ImageTags& tags = {});
std::string readPngTag(const std::string& path, const std::string& key);
ImageFile readExrFile(const std::string& path, const std::string& layer = "");
void writeExrFile(const std::string& path, const PixelWorld& world, const ExrLayout* layout = nullptr,
                  const ImageTags& tags = {});
std::string readExrTag(const std::string& path, const std::string& key);

}  // namespace TEV::Host::Cli
