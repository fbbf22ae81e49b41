// Image files in and out of pixel worlds: PNG (8 and 16 bits per channel,
// read by libpng, written by PngEncode.h), OpenEXR (read from any pixel type,
// written as 32-bit float) and, through OpenImageIO (OiioCodec.h), TIFF, DPX,
// JPEG and Targa: 8-bit files as 8-bit worlds, 10, 12 and 16-bit ones as
// 16-bit worlds, float ones as float worlds, written back at the world's
// depth (as the input's bits when the format stays: a 10-bit DPX stays
// 10-bit) with the input's metadata.
//
// Sample scales: an 8-bit PNG maps 0..255 onto an 8-bit world unchanged; a
// 16-bit PNG's 0..65535 maps onto the host's 16-bit 0..32768 (rounded to
// nearest, so world -> file -> world is exact); EXR floats are copied
// unchanged. Alpha is straight; files without alpha read as opaque. Writing a
// world into a PNG of another depth scales through 0..1 and rounds to nearest,
// clamping floats outside 0..1. OpenImageIO files' 8-bit samples are copied,
// 16-bit ones scale as PNG's, floats are copied.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tevhost/PixelWorld.h"

namespace TEV::Host::Cli {

enum class ImageFormat { Png, Exr, Oiio };

// The format a file name's extension (.png, .exr; .tif, .tiff, .dpx, .jpg,
// .jpeg, .tga through OpenImageIO; any case) selects.
// HostError naming the file for any other extension.
ImageFormat imageFormatOf(const std::string& path);
// True for a name that imageFormatOf() accepts.
bool isImageFileName(const std::string& path);

// Everything else an EXR file holds: the rendered part's header and the
// channels the effect does not render, and the file's other parts, with
// their samples (defined in ExrFiles.cpp).
struct ExrPassThrough;

// Everything a TIFF, DPX, JPEG or Targa file holds beside its pixels (its
// attributes, its bits per sample, alpha or not), defined in the OpenImageIO
// module (OiioCodec.h).
struct FileMetadata;

// What an EXR file holds beside its pixels, kept so that the output is
// written back in the same place: the world is the data window's pixels.
struct ExrLayout {
    PF_LRect data_window{};     // left, top, right, bottom (inclusive), as in the file
    PF_LRect display_window{};
    float pixel_aspect = 1.0f;
    bool half = false;          // the colour channels were half floats
    // The world was rendered at 1/downsample of the file's size: windows and
    // passed-through channels are scaled the same way (see downsampledWindow).
    int downsample = 1;
    // Set by readImage: written back beside the rendered channels.
    std::shared_ptr<const ExrPassThrough> pass_through;
};

// True for the compression names an EXR file can be written with: none, rle,
// zips, zip, piz, pxr24, b44, b44a, dwaa, dwab.
bool isExrCompressionName(const std::string& name);

// A window (inclusive bounds) at 1/factor of the size, as downsampled()
// scales pixels: each bound at floor(bound / factor), blocks on the absolute
// pixel grid (Downsample.h).
PF_LRect downsampledWindow(const PF_LRect& window, int factor);

// How files are written beyond their pixels.
struct ImageWriteOptions {
    static constexpr int kDefaultPngLevel = 1;
    int png_bits = 8;   // 8 or 16
    // Compression level of PNG files, 0 (stored) to 9. Level 1 is the
    // default: on grainy 1080p plates levels 3 to 9 make files 5 % smaller
    // for 1.35 to 1.65 times the CPU (bench/README.md).
    int png_level = kDefaultPngLevel;
    // Compression of written EXR files: "" keeps each input part's (zip for
    // a file without a layout); else a name isExrCompressionName() accepts.
    std::string exr_compression;
    // Text written into the file: PNG tEXt chunks, EXR string attributes of
    // the rendered part. Keys must be 1 to 79 Latin-1 characters.
    // TIFF, DPX, JPEG and Targa files: they hold no free text entries, so
    // `text` goes into the description, one "key: value" line each.
    std::vector<std::pair<std::string, std::string>> text;
    // The input's metadata (ImageFile::metadata), written with TIFF, DPX,
    // JPEG and Targa outputs; none gives a plain file.
    std::shared_ptr<const FileMetadata> metadata;
};

struct ImageFile {
    PixelWorld world;  // at the depth that matches the file (below)
    int file_bits = 8; // 8 or 16 for PNG, 32 for EXR; the world's depth for the others
    std::shared_ptr<const ExrLayout> exr;  // EXR files only
    std::shared_ptr<const FileMetadata> metadata;  // OpenImageIO files only
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

// The mark of a frame written with the plug-in's failure overlay on it. Only
// the front end writes it: an input's mark never passes through to an output.
inline constexpr char kVerdictTag[] = "tev-host verdict";
inline constexpr char kOverlayVerdict[] = "overlay";

// The value of the text entry `key` of an image file (reading its header
// only); "" when there is none or the file can't be read.
std::string readImageTag(const std::string& path, const std::string& key);

// Writes a world of any depth. png_bits (8 or 16) applies to PNG files; EXR
// files are RGBA 32-bit float, or laid out as `exr` says (windows, pixel
// aspect, half channels, compression, and what passes through: the input's
// other channels and parts) when it is given. The file appears complete
// under its name or not at all (replaceFile). HostError naming the file when
// it cannot be written; WriteError, with the system's error number, when
// writing failed.
void writeImage(const std::string& path, const PixelWorld& world, const ImageWriteOptions& options,
                const ExrLayout* exr = nullptr);
void writeImage(const std::string& path, const PixelWorld& world, int png_bits, const ExrLayout* exr = nullptr);

// The PNG, EXR and OpenImageIO parts of readImage/writeImage.
ImageFile readPngFile(const std::string& path);
void writePngFile(const std::string& path, const PixelWorld& world, int bits);
void writePngFile(const std::string& path, const PixelWorld& world, const ImageWriteOptions& options);
std::string readPngTag(const std::string& path, const std::string& key);
ImageFile readExrFile(const std::string& path, const std::string& layer = "");
void writeExrFile(const std::string& path, const PixelWorld& world, const ExrLayout* layout = nullptr,
                  const ImageWriteOptions& options = {});
std::string readExrTag(const std::string& path, const std::string& key);
ImageFile readOiioFile(const std::string& path);
// `named`, when given, is the name whose extension picks the format (`path` may be a temporary).
void writeOiioFile(const std::string& path, const PixelWorld& world, const ImageWriteOptions& options,
                   const std::string& named = "");
std::string readOiioTag(const std::string& path, const std::string& key);

}  // namespace TEV::Host::Cli
