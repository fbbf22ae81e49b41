#include "files/Downsample.h"

#include <algorithm>

#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

PixelWorld downsampled(const PixelWorld& world, int factor) {
    if (factor < 1) {
        throw HostError("downsample factor " + std::to_string(factor) + " is below 1");
    }
    const int width = (world.width() + factor - 1) / factor;
    const int height = (world.height() + factor - 1) / factor;
    PixelWorld small(width, height, world.depth());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double r = 0, g = 0, b = 0, a = 0;
            int count = 0;
            for (int sy = y * factor; sy < std::min(world.height(), (y + 1) * factor); ++sy) {
                for (int sx = x * factor; sx < std::min(world.width(), (x + 1) * factor); ++sx, ++count) {
                    const Rgba p = world.get(sx, sy);
                    r += p.r, g += p.g, b += p.b, a += p.a;
                }
            }
            small.set(x, y, Rgba{float(r / count), float(g / count), float(b / count), float(a / count)});
        }
    }
    return small;
}

}  // namespace TEV::Host::Cli
