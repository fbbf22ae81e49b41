// PNG files through libpng. libpng reports errors by longjmp, so every call
// into it happens in the two C-style functions below, whose only C++ state
// lives behind a pointer, and whose error text goes into a fixed buffer.
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
#include "files/SafeFile.h"
#include "files/SampleScale.h"
#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

namespace {

// Pixels as libpng reads or writes them: RGBA, 8 or 16 bits per sample,
// 16-bit samples in the machine's byte order.
struct PngPixels {
    int width = 0;
    int height = 0;
    int bits = 8;
    std::vector<unsigned char> bytes;
    std::vector<png_bytep> rows;
    char error[256] = {};
    int error_number = 0;  // errno when libpng's error came from a failed write
    const ImageTags* tags = nullptr;  // written as tEXt chunks
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

// Sizes the buffer and the row table; false (with the reason) when memory runs out.
bool allocate(PngPixels* p) {
    try {
        const std::size_t row_bytes = std::size_t(p->width) * 4 * (p->bits / 8);
        p->bytes.assign(row_bytes * std::size_t(p->height), 0);
        p->rows.resize(std::size_t(p->height));
        for (int y = 0; y < p->height; ++y) {
            p->rows[y] = p->bytes.data() + row_bytes * std::size_t(y);
        }
        return true;
    } catch (const std::bad_alloc&) {
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
    // Everything becomes RGBA at 8 or 16 bits.
    png_set_expand(png);  // palette -> RGB, grey below 8 bits -> 8, tRNS -> alpha
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    if (!(colour & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_add_alpha(png, 0xffff, PNG_FILLER_AFTER);
    }
    if (png_get_bit_depth(png, info) == 16 && littleEndian()) {
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
    if (!allocate(p)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_read_image(png, p->rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool encodePng(std::FILE* file, PngPixels* p) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, p, onPngError, onPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(png ? &png : nullptr, nullptr);
        std::snprintf(p->error, sizeof p->error, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(p->width), static_cast<png_uint_32>(p->height), p->bits,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_text> texts;
    if (p->tags) {
        for (const auto& [key, value] : *p->tags) {
            png_text t{};
            t.compression = PNG_TEXT_COMPRESSION_NONE;
            t.key = const_cast<png_charp>(key.c_str());
            t.text = const_cast<png_charp>(value.c_str());
            t.text_length = value.size();
            texts.push_back(t);
        }
        if (!texts.empty()) png_set_text(png, info, texts.data(), static_cast<int>(texts.size()));
    }
    png_write_info(png, info);
    if (p->bits == 16 && littleEndian()) {
        png_set_swap(png);
    }
    png_write_image(png, p->rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
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
    ImageFile image{PixelWorld(p.width, p.height, p.bits), p.bits, nullptr};
    std::size_t i = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x, i += 4) {
            if (p.bits == 8) {
                const unsigned char* s = p.bytes.data() + i;
                image.world.pixel8(x, y) = PF_Pixel{s[3], s[0], s[1], s[2]};
            } else {
                image.world.pixel16(x, y) =
                    PF_Pixel16{fileToHost16(sample16(p, i + 3)), fileToHost16(sample16(p, i)),
                               fileToHost16(sample16(p, i + 1)), fileToHost16(sample16(p, i + 2))};
            }
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

void writePngFile(const std::string& path, const PixelWorld& world, int bits, const ImageTags& tags) {
    if (bits != 8 && bits != 16) {
        throw HostError("cannot write image '" + path + "': PNG files have 8 or 16 bits, not " + std::to_string(bits));
    }
    PngPixels p;
    p.width = world.width();
    p.height = world.height();
    p.bits = bits;
    p.tags = &tags;
    if (!allocate(&p)) {
        throw HostError("cannot write image '" + path + "': " + p.error);
    }
    std::size_t i = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x, i += 4) {
            std::uint16_t rgba[4];
            worldToFileSamples(world, x, y, bits, rgba);
            for (int c = 0; c < 4; ++c) {
                if (bits == 8) {
                    p.bytes[i + c] = static_cast<unsigned char>(rgba[c]);
                } else {
                    std::memcpy(p.bytes.data() + (i + c) * 2, &rgba[c], 2);
                }
            }
        }
    }
    errno = 0;
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        throw WriteError("cannot write image '" + path + "': " + std::strerror(errno), errno);
    }
    const bool ok = encodePng(file.get(), &p);
    if (!ok || std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        const int error_number = ok ? errno : p.error_number;
        const std::string why = ok || error_number ? std::string(std::strerror(error_number)) : std::string(p.error);
        file.reset();
        throw WriteError("cannot write image '" + path + "': " + why, error_number);
    }
    if (std::fclose(file.release()) != 0) {
        throw WriteError("cannot write image '" + path + "': " + std::strerror(errno), errno);
    }
}

}  // namespace TEV::Host::Cli
