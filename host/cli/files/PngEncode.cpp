#include "files/PngEncode.h"

#include <libdeflate.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace TEV::Host::Cli {

namespace {

void put32(unsigned char* at, std::uint32_t v) {
    at[0] = static_cast<unsigned char>(v >> 24), at[1] = static_cast<unsigned char>(v >> 16);
    at[2] = static_cast<unsigned char>(v >> 8), at[3] = static_cast<unsigned char>(v);
}

bool writeAll(std::FILE* file, const void* data, std::size_t size) {
    return size == 0 || std::fwrite(data, 1, size, file) == size;
}

bool writeChunk(std::FILE* file, const char type[4], const unsigned char* data, std::size_t size) {
    unsigned char head[8];
    put32(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    std::uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    if (size > 0) crc = libdeflate_crc32(crc, data, size);  // a null buffer would restart the sum
    unsigned char tail[4];
    put32(tail, crc);
    return writeAll(file, head, 8) && writeAll(file, data, size) && writeAll(file, tail, 4);
}

// The five PNG filters of one row into `out[f]`; returns the filter whose
// output has the smallest sum of absolute values (bytes read as signed).
int filterRow(const unsigned char* cur, const unsigned char* up, std::size_t n, std::size_t bpp,
              unsigned char* out[5]) {
    std::uint64_t sums[5] = {};
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char v = cur[i];
        out[0][i] = v;
        sums[0] += v < 128 ? v : 256 - v;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char v = static_cast<unsigned char>(cur[i] - (i >= bpp ? cur[i - bpp] : 0));
        out[1][i] = v;
        sums[1] += v < 128 ? v : 256 - v;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char v = static_cast<unsigned char>(cur[i] - up[i]);
        out[2][i] = v;
        sums[2] += v < 128 ? v : 256 - v;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned left = i >= bpp ? cur[i - bpp] : 0;
        const unsigned char v = static_cast<unsigned char>(cur[i] - ((left + up[i]) >> 1));
        out[3][i] = v;
        sums[3] += v < 128 ? v : 256 - v;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const int a = i >= bpp ? cur[i - bpp] : 0, b = up[i], c = i >= bpp ? up[i - bpp] : 0;
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        const int predictor = (pa <= pb && pa <= pc) ? a : pb <= pc ? b : c;
        const unsigned char v = static_cast<unsigned char>(cur[i] - predictor);
        out[4][i] = v;
        sums[4] += v < 128 ? v : 256 - v;
    }
    int best = 0;
    for (int f = 1; f < 5; ++f) {
        if (sums[f] < sums[best]) best = f;
    }
    return best;
}

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

}  // namespace

bool encodePng(std::FILE* file, const PngImage& image) {
    const std::size_t bpp = image.bits == 16 ? 8 : 4;
    const std::size_t row_bytes = std::size_t(image.width) * bpp;
    std::vector<unsigned char> filtered, compressed, candidates;
    std::vector<unsigned char> swapped[2];  // with argb: this row and the one above, RGBA
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(libdeflate_alloc_compressor(image.level));
    try {
        filtered.resize((row_bytes + 1) * std::size_t(image.height));
        candidates.resize(row_bytes * 6);  // five filters and a row of zeros above the first
        if (image.argb) {
            swapped[0].resize(row_bytes);
            swapped[1].resize(row_bytes);
        }
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    if (!compressor) {
        errno = ENOMEM;
        return false;
    }
    unsigned char* out[5];
    for (int f = 0; f < 5; ++f) out[f] = candidates.data() + row_bytes * std::size_t(f);
    const unsigned char* zeros = candidates.data() + row_bytes * 5;
    for (int y = 0; y < image.height; ++y) {
        const unsigned char* cur = image.rows[std::size_t(y)];
        const unsigned char* up = y > 0 ? image.rows[std::size_t(y) - 1] : zeros;
        if (image.argb) {
            unsigned char* rgba = swapped[y % 2].data();
            for (std::size_t i = 0; i < row_bytes; i += 4) {
                rgba[i] = cur[i + 1], rgba[i + 1] = cur[i + 2], rgba[i + 2] = cur[i + 3], rgba[i + 3] = cur[i];
            }
            cur = rgba;
            up = y > 0 ? swapped[(y + 1) % 2].data() : zeros;
        }
        const int f = filterRow(cur, up, row_bytes, bpp, out);
        unsigned char* to = filtered.data() + (row_bytes + 1) * std::size_t(y);
        to[0] = static_cast<unsigned char>(f);
        std::memcpy(to + 1, out[f], row_bytes);
    }
    try {
        compressed.resize(libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    const std::size_t size =
        libdeflate_zlib_compress(compressor.get(), filtered.data(), filtered.size(), compressed.data(), compressed.size());
    if (size == 0) {
        errno = ENOMEM;
        return false;
    }

    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    unsigned char header[13];
    put32(header, static_cast<std::uint32_t>(image.width));
    put32(header + 4, static_cast<std::uint32_t>(image.height));
    header[8] = static_cast<unsigned char>(image.bits);
    header[9] = 6;  // RGBA
    header[10] = header[11] = header[12] = 0;  // deflate, adaptive filtering, not interlaced
    if (!writeAll(file, signature, sizeof signature) || !writeChunk(file, "IHDR", header, sizeof header)) return false;
    for (const auto& [key, value] : image.text) {
        std::string chunk = key;
        chunk.push_back('\0');
        chunk += value;
        if (!writeChunk(file, "tEXt", reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size())) return false;
    }
    constexpr std::size_t kChunk = std::size_t(1) << 20;  // IDAT chunks of 1 MiB
    for (std::size_t at = 0; at < size; at += kChunk) {
        if (!writeChunk(file, "IDAT", compressed.data() + at, std::min(kChunk, size - at))) return false;
    }
    return writeChunk(file, "IEND", nullptr, 0);
}

}  // namespace TEV::Host::Cli
