// The boundary between tev-host and its OpenImageIO module (tev-host-oiio.so),
// which reads and writes TIFF, DPX, JPEG, Targa and the other formats
// OpenImageIO knows, other than PNG and EXR. The module is loaded on the first
// such file: linking OpenImageIO (and the libraries it pulls in) would cost
// every start of tev-host about half a second.
//
// Only plain data crosses: samples as the file's scale holds them, the
// file's metadata as an opaque handle, and errors as text.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace TEV::Host::Cli {

// Everything a file holds beside its pixels (OpenImageIO's description of
// it), passed from an input to its output. Defined in the module.
struct FileMetadata;

// Interleaved R, G, B, A samples, row after row from the top.
struct Raster {
    int width = 0;
    int height = 0;
    int bits = 8;       // sample type: 8 (0..255), 16 (0..65535) or 32 (float)
    int file_bits = 8;  // as the file stores them: 8, 10, 12, 16, 32...
    bool alpha = false; // the file has (or is to have) an alpha channel; else A is opaque
    std::vector<unsigned char> samples;  // width x height x 4 samples of bits / 8 bytes
    std::shared_ptr<const FileMetadata> metadata;  // read: the file's; write: the input's, or none
};

using RasterTags = std::vector<std::pair<std::string, std::string>>;

// An error: "" for none; error_number is the system's when a write failed.
struct CodecError {
    std::string message;
    int error_number = 0;
};

struct OiioCodec {
    // Reads the first image of a file at its own depth.
    CodecError (*read)(const std::string& path, Raster& raster);
    // Writes `raster` (its metadata passed through, the input's tev-host
    // marks dropped) with `tags` added, in the format that `format`, a file
    // name or an extension, names.
    CodecError (*write)(const std::string& path, const std::string& format, const Raster& raster,
                        const RasterTags& tags);
    // The value of a text entry written as `tags`; "" when there is none.
    std::string (*read_tag)(const std::string& path, const std::string& key);
};

// The module's one symbol: returns its functions.
extern "C" const OiioCodec* tevHostOiioCodec();
inline constexpr char kOiioCodecSymbol[] = "tevHostOiioCodec";

}  // namespace TEV::Host::Cli
