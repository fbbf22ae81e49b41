// TIFF, DPX, JPEG and the other formats of OpenImageIO, through the module
// loaded on first use (OiioCodec.h), and the sample scales between its
// rasters and the host's worlds.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "files/ImageFiles.h"
#include "files/OiioCodec.h"
#include "files/SafeFile.h"
#include "files/SampleScale.h"
#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

namespace {

constexpr char kModuleName[] = "tev-host-oiio.so";

std::string executableFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "";
    return std::filesystem::path(std::string(buffer, std::size_t(n))).parent_path().string();
}

// Where the module may be, in order: TEV_HOST_OIIO_MODULE; beside tev-host
// (the build tree); the installed lib/tev-bridge/ beside its bin/; the build
// tree's (tests that run the front end in-process).
std::vector<std::string> moduleCandidates() {
    std::vector<std::string> candidates;
    if (const char* forced = std::getenv("TEV_HOST_OIIO_MODULE"); forced && *forced) return {forced};
    const std::string exe = executableFolder();
    if (!exe.empty()) {
        candidates.push_back(exe + "/" + kModuleName);
        candidates.push_back(exe + "/../lib/tev-bridge/" + kModuleName);
    }
#ifdef TEV_HOST_OIIO_BUILD_MODULE
    candidates.push_back(TEV_HOST_OIIO_BUILD_MODULE);
#endif
    return candidates;
}

// The module's functions, loaded once and kept for the life of the process
// (metadata it made is freed by its code). HostError naming the places looked
// in when it can't be loaded.
const OiioCodec& codec() {
    static std::once_flag once;
    static const OiioCodec* loaded = nullptr;
    static std::string problem;
    std::call_once(once, [] {
        std::string tried;
        for (const std::string& path : moduleCandidates()) {
            std::error_code ec;
            if (!std::filesystem::exists(path, ec)) {
                tried += (tried.empty() ? "" : ", ") + path;
                continue;
            }
            void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                problem = "cannot load '" + path + "': " + ::dlerror();
                return;
            }
            auto entry = reinterpret_cast<const OiioCodec* (*)()>(::dlsym(handle, kOiioCodecSymbol));
            if (!entry) {
                problem = "'" + path + "' is not tev-host's image module";
                return;
            }
            loaded = entry();
            return;
        }
        problem = "tev-host's image module (" + std::string(kModuleName) + ") is not installed (looked in: " + tried + ")";
    });
    if (!loaded) throw HostError("TIFF, DPX, JPEG and other OpenImageIO formats need " + problem);
    return *loaded;
}

std::size_t sampleIndex(const Raster& raster, int x, int y) {
    return (std::size_t(y) * std::size_t(raster.width) + std::size_t(x)) * 4;
}

template <typename T>
const T* samplesAt(const Raster& raster, int x, int y) {
    return reinterpret_cast<const T*>(raster.samples.data()) + sampleIndex(raster, x, y);
}

template <typename T>
T* samplesAt(Raster& raster, int x, int y) {
    return reinterpret_cast<T*>(raster.samples.data()) + sampleIndex(raster, x, y);
}

PixelWorld worldOf(const Raster& raster) {
    PixelWorld world(raster.width, raster.height, raster.bits);
    for (int y = 0; y < raster.height; ++y) {
        for (int x = 0; x < raster.width; ++x) {
            if (raster.bits == 8) {
                const auto* s = samplesAt<std::uint8_t>(raster, x, y);
                world.pixel8(x, y) = PF_Pixel{s[3], s[0], s[1], s[2]};
            } else if (raster.bits == 16) {
                const auto* s = samplesAt<std::uint16_t>(raster, x, y);
                world.pixel16(x, y) = PF_Pixel16{fileToHost16(s[3]), fileToHost16(s[0]), fileToHost16(s[1]),
                                                 fileToHost16(s[2])};
            } else {
                const auto* s = samplesAt<float>(raster, x, y);
                world.pixelFloat(x, y) = PF_PixelFloat{s[3], s[0], s[1], s[2]};
            }
        }
    }
    return world;
}

Raster rasterOf(const PixelWorld& world) {
    Raster raster;
    raster.width = world.width();
    raster.height = world.height();
    raster.bits = raster.file_bits = world.depth();
    raster.alpha = true;
    raster.samples.resize(std::size_t(raster.width) * std::size_t(raster.height) * 4 * std::size_t(raster.bits / 8));
    for (int y = 0; y < raster.height; ++y) {
        for (int x = 0; x < raster.width; ++x) {
            if (raster.bits == 8) {
                const PF_Pixel& p = world.pixel8(x, y);
                auto* s = samplesAt<std::uint8_t>(raster, x, y);
                s[0] = p.red, s[1] = p.green, s[2] = p.blue, s[3] = p.alpha;
            } else if (raster.bits == 16) {
                std::uint16_t rgba[4];
                worldToFileSamples(world, x, y, 16, rgba);
                std::memcpy(samplesAt<std::uint16_t>(raster, x, y), rgba, sizeof rgba);
            } else {
                const PF_PixelFloat& p = world.pixelFloat(x, y);
                auto* s = samplesAt<float>(raster, x, y);
                s[0] = p.red, s[1] = p.green, s[2] = p.blue, s[3] = p.alpha;
            }
        }
    }
    return raster;
}

}  // namespace

ImageFile readOiioFile(const std::string& path) {
    Raster raster;
    const CodecError error = codec().read(path, raster);
    if (!error.message.empty()) throw HostError(error.message);
    return ImageFile{worldOf(raster), raster.bits, nullptr, std::move(raster.metadata)};
}

void writeOiioFile(const std::string& path, const PixelWorld& world, const ImageWriteOptions& options,
                   const std::string& named) {
    Raster raster = rasterOf(world);
    raster.metadata = options.metadata;
    const CodecError error = codec().write(path, named.empty() ? path : named, raster, options.text);
    if (error.error_number) throw WriteError(error.message, error.error_number);
    if (!error.message.empty()) throw HostError(error.message);
}

std::string readOiioTag(const std::string& path, const std::string& key) {
    try {
        return codec().read_tag(path, key);
    } catch (const HostError&) {
        return "";
    }
}

}  // namespace TEV::Host::Cli
