// PNG files: read through libpng, written by PngEncode. libpng reports errors
// by longjmp, so every call into it happens in the C-style function below,
// whose only C++ state lives behind a pointer, and whose error text goes into
// a fixed buffer.
#include <png.h>

#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "files/ImageFiles.h"
#include "files/PngEncode.h"
#include "files/SafeFile.h"
#include "files/SampleScale.h"
#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

namespace {

// Pixels as libpng reads or writes them. 8-bit samples go straight between
// the file and an 8-bit world's rows in the world's ARGB order (libpng swaps
// the alpha); 16-bit ones through `bytes`, RGBA in the machine's byte order.
struct PngPixels {
    int width = 0;
    int height = 0;
    int bits = 8;
    PixelWorld world;                 // 8-bit reads: the rows libpng fills
    std::vector<unsigned char> bytes; // 16-bit reads and writes
    std::vector<png_bytep> rows;
    char error[256] = {};
    int error_number = 0;  // errno when libpng's error came from a failed write
};

extern "C" void onPngError(png_structp png, png_const_charp message) {
    auto* pixels = static_cast<PngPixels*>(png_get_error_ptr(png));
    pixels->error_number = errno;
    std::snprintf(pixels->error, sizeof pixels->error, "%s", message);
    png_longjmp(png, 1);
}

extern "C" void onPngWarning(png_structp, png_const_charp) {}

bool littleEndian() {
    const std::uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// Sizes the pixels and the row table (8-bit reads: a world of the file's
// size); false (with the reason) when memory runs out.
bool allocate(PngPixels* p, bool into_world) {
    try {
        p->rows.resize(std::size_t(p->height));
        if (into_world) {
            p->world = PixelWorld(p->width, p->height, 8);
            for (int y = 0; y < p->height; ++y) p->rows[y] = reinterpret_cast<png_bytep>(&p->world.pixel8(0, y));
            return true;
        }
        const std::size_t row_bytes = std::size_t(p->width) * 4 * (p->bits / 8);
        p->bytes.assign(row_bytes * std::size_t(p->height), 0);
        for (int y = 0; y < p->height; ++y) {
            p->rows[y] = p->bytes.data() + row_bytes * std::size_t(y);
        }
        return true;
    } catch (const std::exception&) {
        std::snprintf(p->error, sizeof p->error, "out of memory for %d x %d pixels", p->width, p->height);
        return false;
    }
}

bool decodePng(std::FILE* file, PngPixels* p) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, p, onPngError, onPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_read_struct(png ? &png : nullptr, nullptr, nullptr);
        std::snprintf(p->error, sizeof p->error, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_user_limits(png, PF_MAX_WORLD_WIDTH, PF_MAX_WORLD_HEIGHT);
    png_read_info(png, info);
    const png_byte colour = png_get_color_type(png, info);
    const bool sixteen = png_get_bit_depth(png, info) == 16;
    const bool has_alpha = (colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    // Everything becomes RGBA at 16 bits, ARGB at 8 bits.
    png_set_expand(png);  // palette -> RGB, grey below 8 bits -> 8, tRNS -> alpha
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    if (!has_alpha) {
        png_set_add_alpha(png, 0xffff, sixteen ? PNG_FILLER_AFTER : PNG_FILLER_BEFORE);
    } else if (!sixteen) {
        png_set_swap_alpha(png);
    }
    if (sixteen && littleEndian()) {
        png_set_swap(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    p->width = static_cast<int>(png_get_image_width(png, info));
    p->height = static_cast<int>(png_get_image_height(png, info));
    p->bits = png_get_bit_depth(png, info) == 16 ? 16 : 8;
    if (png_get_rowbytes(png, info) != std::size_t(p->width) * 4 * (p->bits / 8)) {
        std::snprintf(p->error, sizeof p->error, "unexpected row layout after conversion to RGBA");
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (!allocate(p, p->bits == 8)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_read_image(png, p->rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// The text chunks before the pixels: reads the signature and the chunks up to
// the first image data only.
bool readPngText(std::FILE* file, const std::string& key, std::string* value, PngPixels* p) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, p, onPngError, onPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_read_struct(png ? &png : nullptr, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_textp texts = nullptr;
    const int count = png_get_text(png, info, &texts, nullptr);
    for (int i = 0; i < count; ++i) {
        if (key == texts[i].key) {
            *value = std::string(texts[i].text, texts[i].text_length);
            break;
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::uint16_t sample16(const PngPixels& p, std::size_t index) {
    std::uint16_t v;
    std::memcpy(&v, p.bytes.data() + index * 2, 2);
    return v;
}

}  // namespace

ImageFile readPngFile(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw HostError("cannot read image '" + path + "': " + std::strerror(errno));
    }
    PngPixels p;
    if (!decodePng(file.get(), &p)) {
        throw HostError("cannot read image '" + path + "': " + p.error);
    }
    if (p.bits == 8) return ImageFile{std::move(p.world), 8, nullptr, nullptr};
    ImageFile image{PixelWorld(p.width, p.height, 16), 16, nullptr, nullptr};
    for (int y = 0; y < p.height; ++y) {
        PF_Pixel16* row = &image.world.pixel16(0, y);
        const std::size_t first = std::size_t(y) * std::size_t(p.width) * 4;
        for (int x = 0; x < p.width; ++x) {
            const std::size_t i = first + std::size_t(x) * 4;
            row[x] = PF_Pixel16{fileToHost16(sample16(p, i + 3)), fileToHost16(sample16(p, i)),
                                fileToHost16(sample16(p, i + 1)), fileToHost16(sample16(p, i + 2))};
        }
    }
    return image;
}

std::string readPngTag(const std::string& path, const std::string& key) {
    File file(std::fopen(path.c_str(), "rb"));
    PngPixels p;
    std::string value;
    if (file) readPngText(file.get(), key, &value, &p);
    return value;
}

void writePngFile(const std::string& path, const PixelWorld& world, int bits) {
    ImageWriteOptions options;
    options.png_bits = bits;
    writePngFile(path, world, options);
}

void writePngFile(const std::string& path, const PixelWorld& world, const ImageWriteOptions& options) {
    const int bits = options.png_bits;
    if (bits != 8 && bits != 16) {
        throw HostError("cannot write image '" + path + "': PNG files have 8 or 16 bits, not " + std::to_string(bits));
    }
    if (options.png_level < 0 || options.png_level > 9) {
        throw HostError("cannot write image '" + path + "': PNG compression level " +
                        std::to_string(options.png_level) + " is outside 0 to 9");
    }
    if (world.width() < 1 || world.height() < 1) {
        throw HostError("cannot write image '" + path + "': it has no pixels");
    }
    for (const auto& text : options.text) {
        if (text.first.empty() || text.first.size() > 79 || text.first.find('\0') != std::string::npos) {
            throw HostError("cannot write image '" + path + "': text key '" + text.first +
                            "' is not 1 to 79 characters");
        }
    }
    PngImage image;
    image.width = world.width();
    image.height = world.height();
    image.bits = bits;
    image.level = options.png_level;
    image.text = options.text;
    image.rows.resize(std::size_t(image.height));
    PixelWorld converted;
    std::vector<unsigned char> bytes;
    if (bits == 8) {
        const PixelWorld* from = &world;
        if (world.depth() != 8) {
            // Rounded to nearest through 0..1, as worldToFileSamples does.
            converted = PixelWorld(image.width, image.height, 8);
            for (int y = 0; y < image.height; ++y) {
                PF_Pixel* row = &converted.pixel8(0, y);
                for (int x = 0; x < image.width; ++x) {
                    std::uint16_t rgba[4];
                    worldToFileSamples(world, x, y, 8, rgba);
                    row[x] = PF_Pixel{static_cast<A_u_char>(rgba[3]), static_cast<A_u_char>(rgba[0]),
                                      static_cast<A_u_char>(rgba[1]), static_cast<A_u_char>(rgba[2])};
                }
            }
            from = &converted;
        }
        image.argb = true;  // the world's own rows, swapped while filtering
        for (int y = 0; y < image.height; ++y) {
            image.rows[std::size_t(y)] = reinterpret_cast<const unsigned char*>(&from->pixel8(0, y));
        }
    } else {
        const std::size_t row_bytes = std::size_t(image.width) * 8;
        bytes.resize(row_bytes * std::size_t(image.height));
        for (int y = 0; y < image.height; ++y) {
            unsigned char* out = bytes.data() + row_bytes * std::size_t(y);
            image.rows[std::size_t(y)] = out;
            for (int x = 0; x < image.width; ++x) {
                std::uint16_t rgba[4];
                worldToFileSamples(world, x, y, 16, rgba);
                for (int c = 0; c < 4; ++c, out += 2) {
                    out[0] = static_cast<unsigned char>(rgba[c] >> 8);  // big-endian
                    out[1] = static_cast<unsigned char>(rgba[c]);
                }
            }
        }
    }
    errno = 0;
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        throw WriteError("cannot write image '" + path + "': " + std::strerror(errno), errno);
    }
    errno = 0;
    const bool ok = encodePng(file.get(), image);
    if (!ok || std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        const int error_number = errno ? errno : EIO;
        file.reset();
        throw WriteError("cannot write image '" + path + "': " + std::strerror(error_number), error_number);
    }
    if (std::fclose(file.release()) != 0) {
        throw WriteError("cannot write image '" + path + "': " + std::strerror(errno), errno);
    }
}

}  // namespace TEV::Host::Cli
