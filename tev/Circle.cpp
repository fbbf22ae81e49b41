// drawCircle: a filled disc, set without blending.
#include <algorithm>

#include "DrawingCanvas.h"
#include "TEV_Image.h"

namespace TEV {

void drawCircle(Image& image, int cx, int cy, int radius, const std::vector<float>& colour) {
    if (radius < 0) return;
    const std::vector<float> c = detail::completeColour(colour);
    detail::withCanvas(image, [&](auto& canvas) {
        using C = std::decay_t<decltype(canvas)>;
        const float level[4] = {C::level(c[0]), C::level(c[1]), C::level(c[2]), C::level(c[3])};
        // 64-bit throughout: the squared distances of a large radius exceed 32 bits.
        const long long r = radius, r2 = r * r;
        const long long y0 = std::max(0LL, cy - r), y1 = std::min(canvas.height() - 1, cy + r);
        const long long x0 = std::max(0LL, cx - r), x1 = std::min(canvas.width() - 1, cx + r);
        for (long long y = y0; y <= y1; ++y) {
            for (long long x = x0; x <= x1; ++x) {
                const long long dx = x - cx, dy = y - cy;
                if (dx * dx + dy * dy > r2) continue;
                const std::size_t i = canvas.pixelIndex(x, y);
                if (i == C::npos) continue;
                for (unsigned s = 0; s < canvas.colourSamples(); ++s) canvas.store(i + s, level[s]);
                if (canvas.hasAlpha()) canvas.store(i + 3, level[3]);
            }
        }
    });
}

}  // namespace TEV
