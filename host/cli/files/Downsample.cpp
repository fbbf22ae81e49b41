#include "files/Downsample.h"

#include <algorithm>

#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

int floorDiv(int value, int factor) {
    return value >= 0 ? value / factor : -((-value + factor - 1) / factor);
}

int BlockAxis::begin(int i) const { return std::max(0, (first() + i) * factor - origin); }

int BlockAxis::end(int i) const { return std::min(size, (first() + i + 1) * factor - origin); }

PixelWorld downsampled(const PixelWorld& world, int factor, int origin_x, int origin_y) {
    if (factor < 1) {
        throw HostError("downsample factor " + std::to_string(factor) + " is below 1");
    }
    const BlockAxis across{origin_x, world.width(), factor};
    const BlockAxis down{origin_y, world.height(), factor};
    PixelWorld small(across.count(), down.count(), world.depth());
    for (int y = 0; y < small.height(); ++y) {
        for (int x = 0; x < small.width(); ++x) {
            double r = 0, g = 0, b = 0, a = 0;
            int count = 0;
            for (int sy = down.begin(y); sy < down.end(y); ++sy) {
                for (int sx = across.begin(x); sx < across.end(x); ++sx, ++count) {
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
