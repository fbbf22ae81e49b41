#include "ImageFiles.h"

#include <memory>
#include <vector>

#include "tevhost/HostError.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

namespace TEV::Host::Cli {

PixelWorld readPng(const std::string& path) {
    int width = 0, height = 0, channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(stbi_load(path.c_str(), &width, &height, &channels, 4),
                                                     &stbi_image_free);
    if (!pixels) {
        throw HostError("cannot read image '" + path + "': " + stbi_failure_reason());
    }
    if (width > PF_MAX_WORLD_WIDTH || height > PF_MAX_WORLD_HEIGHT) {
        throw HostError("image '" + path + "' is larger than the host's 30000 x 30000 limit");
    }
    PixelWorld world(width, height, 8);
    const stbi_uc* p = pixels.get();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, p += 4) {
            world.pixel8(x, y) = PF_Pixel{p[3], p[0], p[1], p[2]};
        }
    }
    return world;
}

void writePng(const std::string& path, const PixelWorld& world) {
    const PixelWorld* source = &world;
    PixelWorld converted;
    if (world.depth() != 8) {
        converted = world.convertedTo(8);
        source = &converted;
    }
    std::vector<unsigned char> rgba(static_cast<std::size_t>(world.width()) * world.height() * 4);
    unsigned char* q = rgba.data();
    for (int y = 0; y < world.height(); ++y) {
        for (int x = 0; x < world.width(); ++x, q += 4) {
            const PF_Pixel& p = source->pixel8(x, y);
            q[0] = p.red;
            q[1] = p.green;
            q[2] = p.blue;
            q[3] = p.alpha;
        }
    }
    if (!stbi_write_png(path.c_str(), world.width(), world.height(), 4, rgba.data(), world.width() * 4)) {
        throw HostError("cannot write image '" + path + "'");
    }
}

}  // namespace TEV::Host::Cli
