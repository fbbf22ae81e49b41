// The OpenImageIO module of tev-host: TIFF, DPX, JPEG, Targa and the other
// formats OpenImageIO reads and writes, at their own depth, with their
// metadata passed through. See OiioCodec.h.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "files/OiioCodec.h"

namespace TEV::Host::Cli {

struct FileMetadata {
    OIIO::ImageSpec header;  // the attributes; sizes and channels are the raster's
    std::string format_name;  // "tiff", "dpx", "jpeg"...
};

namespace {

constexpr int kMaxSize = 30000;        // the host's largest world
constexpr char kMarkPrefix[] = "tev-host ";  // the front end's own text entries

OIIO::TypeDesc sampleType(int bits) {
    return bits == 8 ? OIIO::TypeDesc::UINT8 : bits == 16 ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::FLOAT;
}

// 8-bit files read as 8 bits; 10, 12 and 16-bit ones as 16; the rest as float.
int rasterBits(const OIIO::ImageSpec& header, int file_bits) {
    if (header.format.is_floating_point() || file_bits > 16) return 32;
    return file_bits <= 8 ? 8 : 16;
}

// The front end writes its text entries into the description, the one text
// field every format keeps, one "key: value" line each, before the rest.
std::vector<std::string> descriptionLines(const std::string& description) {
    std::vector<std::string> lines;
    std::istringstream in(description);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool isMarkLine(const std::string& line) { return line.compare(0, std::strlen(kMarkPrefix), kMarkPrefix) == 0; }

// `text` without its tev-host lines (the input's marks are not the output's).
std::string withoutMarks(const std::string& text) {
    if (text.find(kMarkPrefix) == std::string::npos) return text;
    std::string kept;
    for (const std::string& line : descriptionLines(text)) {
        if (!isMarkLine(line)) kept += (kept.empty() ? "" : "\n") + line;
    }
    return kept;
}

CodecError failure(const std::string& what, const std::string& path, const std::string& why) {
    return CodecError{"cannot " + what + " image '" + path + "': " + (why.empty() ? "unknown error" : why), 0};
}

CodecError readRaster(const std::string& path, Raster& raster) {
    // Colour with alpha comes as the library's convention has it (associated)
    // and is written back the same way, so that a frame the effect leaves
    // alone is written back as it was read.
    auto in = OIIO::ImageInput::open(path);
    if (!in) return failure("read", path, OIIO::geterror());
    const OIIO::ImageSpec& header = in->spec();
    if (header.width < 1 || header.height < 1 || header.width > kMaxSize || header.height > kMaxSize) {
        return failure("read", path,
                       "its size " + std::to_string(header.width) + " x " + std::to_string(header.height) +
                           " is outside the host's 1 to 30000 pixels");
    }
    if (header.depth > 1) return failure("read", path, "it is a volume, not a picture");
    const int channels = header.nchannels;
    if (channels < 1) return failure("read", path, "it has no channels");
    raster.width = header.width;
    raster.height = header.height;
    raster.file_bits = header.get_int_attribute("oiio:BitsPerSample", int(header.format.size() * 8));
    raster.bits = rasterBits(header, raster.file_bits);
    const int alpha_channel = header.alpha_channel >= 0 ? header.alpha_channel : channels == 2 ? 1 : channels >= 4 ? 3 : -1;
    raster.alpha = alpha_channel >= 0;
    const OIIO::TypeDesc type = sampleType(raster.bits);
    const std::size_t size = type.size();
    const std::size_t pixels = std::size_t(header.width) * std::size_t(header.height);
    std::vector<unsigned char> file(pixels * std::size_t(channels) * size);
    if (!in->read_image(0, 0, 0, channels, type, file.data())) return failure("read", path, in->geterror());

    // Grey (one colour channel) fills R, G and B; a missing alpha is opaque.
    const bool grey = channels - (raster.alpha ? 1 : 0) < 3;
    const int from[4] = {0, grey ? 0 : 1, grey ? 0 : 2, alpha_channel};
    std::vector<unsigned char> opaque(size);
    if (raster.bits == 8) opaque[0] = 255;
    if (raster.bits == 16) std::memset(opaque.data(), 0xff, 2);
    if (raster.bits == 32) {
        const float one = 1.0f;
        std::memcpy(opaque.data(), &one, sizeof one);
    }
    raster.samples.resize(pixels * 4 * size);
    unsigned char* out = raster.samples.data();
    for (std::size_t p = 0; p < pixels; ++p) {
        const unsigned char* pixel = file.data() + p * std::size_t(channels) * size;
        for (int c = 0; c < 4; ++c, out += size) {
            std::memcpy(out, from[c] >= 0 ? pixel + std::size_t(from[c]) * size : opaque.data(), size);
        }
    }
    auto metadata = std::make_shared<FileMetadata>();
    metadata->header = header;
    metadata->format_name = in->format_name();
    raster.metadata = std::move(metadata);
    return {};
}

CodecError writeRaster(const std::string& path, const std::string& format, const Raster& raster,
                       const RasterTags& tags) {
    auto out = OIIO::ImageOutput::create(format);
    if (!out) return failure("write", path, OIIO::geterror());
    // The input's channels when it had a layout of its own; else RGBA where the format has alpha.
    const bool had_alpha = raster.metadata ? raster.metadata->header.alpha_channel >= 0 ||
                                                 raster.metadata->header.nchannels == 2 ||
                                                 raster.metadata->header.nchannels >= 4
                                           : raster.alpha;
    const bool alpha = had_alpha && out->supports("alpha");
    const int channels = alpha ? 4 : 3;
    OIIO::ImageSpec header(raster.width, raster.height, channels, sampleType(raster.bits));
    std::string description;
    if (raster.metadata) {
        // Everything the input held beside its pixels, but the layout it was
        // stored in when the format changes (a 10-bit DPX's bits in a TIFF).
        const FileMetadata& in = *raster.metadata;
        for (const OIIO::ParamValue& p : in.header.extra_attribs) {
            const std::string name = p.name().string();
            if (isMarkLine(name)) continue;
            if (in.format_name != out->format_name() &&
                (name == "oiio:BitsPerSample" || name == "compression" || name.find(':') != std::string::npos) &&
                name.compare(0, 5, "Exif:") != 0 && name.compare(0, 5, "IPTC:") != 0) {
                continue;
            }
            if (p.type() == OIIO::TypeDesc::STRING) {
                // The description is kept in several places (a JPEG's comment, IPTC
                // caption and EXIF): the input's tev-host lines leave them all.
                const std::string kept = withoutMarks(p.get_string());
                if (!kept.empty()) header.attribute(name, kept);
            } else {
                header.attribute(name, p.type(), p.data());
            }
        }
        // A 10-bit DPX stays 10-bit when it stays a DPX at the depth it was read at.
        const int in_bits = in.header.get_int_attribute("oiio:BitsPerSample", int(in.header.format.size() * 8));
        if (in.format_name != out->format_name() || rasterBits(in.header, in_bits) != raster.bits) {
            header.erase_attribute("oiio:BitsPerSample");
        }
        description = header.get_string_attribute("ImageDescription");
    }
    std::string marks;
    for (const auto& [key, value] : tags) marks += key + ": " + value + "\n";
    description = marks + description;
    if (!description.empty() && description.back() == '\n') description.pop_back();
    if (description.empty()) {
        header.erase_attribute("ImageDescription");
    } else {
        header.attribute("ImageDescription", description);
    }
    errno = 0;
    if (!out->open(path, header)) return failure("write", path, out->geterror());
    const std::size_t size = sampleType(raster.bits).size();
    const OIIO::stride_t pixel = OIIO::stride_t(4 * size);
    const bool written = out->write_image(sampleType(raster.bits), raster.samples.data(), pixel);
    const int error_number = errno;
    const bool closed = out->close();
    if (!written || !closed) {
        CodecError error = failure("write", path, out->geterror());
        error.error_number = error_number ? error_number : EIO;
        return error;
    }
    return {};
}

std::string readRasterTag(const std::string& path, const std::string& key) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        OIIO::geterror();  // clears the library's pending message
        return "";
    }
    const std::string prefix = key + ": ";
    for (const std::string& line : descriptionLines(in->spec().get_string_attribute("ImageDescription"))) {
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    }
    return "";
}

// Nothing thrown crosses into tev-host (out of memory, a library's exception).
CodecError guardedRead(const std::string& path, Raster& raster) {
    try {
        return readRaster(path, raster);
    } catch (const std::exception& e) {
        return failure("read", path, e.what());
    }
}

CodecError guardedWrite(const std::string& path, const std::string& format, const Raster& raster,
                        const RasterTags& tags) {
    try {
        return writeRaster(path, format, raster, tags);
    } catch (const std::exception& e) {
        return failure("write", path, e.what());
    }
}

std::string guardedTag(const std::string& path, const std::string& key) {
    try {
        return readRasterTag(path, key);
    } catch (const std::exception&) {
        return "";
    }
}

const OiioCodec kCodec{guardedRead, guardedWrite, guardedTag};

}  // namespace

extern "C" __attribute__((visibility("default"))) const OiioCodec* tevHostOiioCodec() {
    // tev-host renders frames on threads of its own, each reading or writing a
    // file whole: the library's worker pool would only compete with them for
    // the cores. One thread: every call runs on its caller's thread.
    static const bool one_thread = OIIO::attribute("threads", 1);
    (void)one_thread;
    return &kCodec;
}

}  // namespace TEV::Host::Cli
