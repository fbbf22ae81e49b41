#include "SampleClip.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "files/ImageFiles.h"
#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

namespace {

constexpr float kPi = 3.14159265f;

float mix(float a, float b, float t) { return a + (b - a) * t; }

// A fully saturated colour of hue h (0..1, wrapping).
Rgba hue(float h) {
    h = h - std::floor(h);
    const float r = std::clamp(std::fabs(h * 6 - 3) - 1, 0.0f, 1.0f);
    const float g = std::clamp(2 - std::fabs(h * 6 - 2), 0.0f, 1.0f);
    const float b = std::clamp(2 - std::fabs(h * 6 - 4), 0.0f, 1.0f);
    return Rgba{r, g, b, 1};
}

// Coverage of a shape edge at signed distance d (pixels; negative inside).
float coverage(float d) { return std::clamp(0.5f - d, 0.0f, 1.0f); }

Rgba over(const Rgba& under, const Rgba& colour, float amount) {
    return Rgba{mix(under.r, colour.r, amount), mix(under.g, colour.g, amount), mix(under.b, colour.b, amount), 1};
}

}  // namespace

PixelWorld sampleFrame(int width, int height, int index, int count) {
    PixelWorld world(width, height, 32);
    const float t = count > 1 ? float(index) / float(count - 1) : 0.0f;  // 0..1 over the clip
    const float w = float(width), h = float(height);
    const float disc_x = mix(0.15f, 0.85f, t) * w, disc_y = (0.45f - 0.15f * std::sin(t * kPi)) * h;
    const float disc_r = 0.12f * h;
    const float square_x = 0.72f * w, square_y = 0.30f * h, square_half = 0.10f * h;
    const float angle = t * kPi / 2;
    const float ca = std::cos(angle), sa = std::sin(angle);
    const Rgba sky_top = hue(0.58f + 0.1f * t), sky_bottom{0.95f, 0.85f, 0.7f, 1};

    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float fx = float(x) + 0.5f, fy = float(y) + 0.5f;
            const float v = fy / h;
            Rgba p = over(Rgba{sky_top.r * 0.6f, sky_top.g * 0.6f, sky_top.b * 0.8f, 1}, sky_bottom, v);
            // Step wedge along the bottom: 11 greys from black to white.
            if (fy > 0.86f * h) {
                const float grey = std::floor(fx / w * 11) / 10;
                p = Rgba{grey, grey, grey, 1};
            }
            // Colour bar above it: the hue circle, shifting with time.
            else if (fy > 0.78f * h) {
                p = hue(fx / w + t * 0.25f);
            }
            // The turning square.
            const float dx = fx - square_x, dy = fy - square_y;
            const float rx = ca * dx + sa * dy, ry = -sa * dx + ca * dy;
            const float square_d = std::max(std::fabs(rx), std::fabs(ry)) - square_half;
            p = over(p, Rgba{0.9f, 0.2f, 0.25f, 1}, coverage(square_d));
            // The disc, with a radial shade.
            const float dist = std::hypot(fx - disc_x, fy - disc_y);
            const float shade = 1.0f - 0.5f * std::clamp(dist / disc_r, 0.0f, 1.0f);
            p = over(p, Rgba{0.2f * shade, 0.85f * shade, 0.35f * shade, 1}, coverage(dist - disc_r));
            world.pixelFloat(x, y) = PF_PixelFloat{1.0f, p.r, p.g, p.b};
        }
    }
    return world;
}

void writeSampleClip(const std::string& folder, int width, int height, int count) {
    namespace fs = std::filesystem;
    for (const char* sub : {"png8", "png16", "exr"}) {
        std::error_code ec;
        fs::create_directories(fs::path(folder) / sub, ec);
        if (ec) throw HostError("cannot create '" + (fs::path(folder) / sub).string() + "': " + ec.message());
    }
    for (int i = 0; i < count; ++i) {
        const PixelWorld frame = sampleFrame(width, height, i, count);
        char name[32];
        std::snprintf(name, sizeof name, "clip_%04d", i + 1);
        writeImage((fs::path(folder) / "png8" / (std::string(name) + ".png")).string(), frame, 8);
        writeImage((fs::path(folder) / "png16" / (std::string(name) + ".png")).string(), frame, 16);
        writeImage((fs::path(folder) / "exr" / (std::string(name) + ".exr")).string(), frame, 16);
    }
}

}  // namespace TEV::Host::Cli
