#include "ContactSheet.h"

#include <algorithm>
#include <cmath>

#include "files/ImageFiles.h"
#include "TEV.h"
#include "TEV_Image.h"
#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

namespace {

constexpr int kGap = 8;
constexpr int kCaptionHeight = 30;
constexpr float kCaptionText = 18.0f;
constexpr unsigned char kBackground = 30;

}  // namespace

PixelWorld resized(const PixelWorld& world, int width, int height) {
    if (width < 1 || height < 1) throw HostError("cannot resize to " + std::to_string(width) + " x " + std::to_string(height));
    PixelWorld out(width, height, world.depth());
    for (int y = 0; y < height; ++y) {
        const int y0 = int(std::int64_t(y) * world.height() / height);
        const int y1 = std::max(y0 + 1, int(std::int64_t(y + 1) * world.height() / height));
        for (int x = 0; x < width; ++x) {
            const int x0 = int(std::int64_t(x) * world.width() / width);
            const int x1 = std::max(x0 + 1, int(std::int64_t(x + 1) * world.width() / width));
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = y0; sy < y1; ++sy) {
                for (int sx = x0; sx < x1; ++sx) {
                    const Rgba p = world.get(sx, sy);
                    r += p.r, g += p.g, b += p.b, a += p.a;
                }
            }
            const double n = double(y1 - y0) * (x1 - x0);
            out.set(x, y, Rgba{float(r / n), float(g / n), float(b / n), float(a / n)});
        }
    }
    return out;
}

PixelWorld contactSheet(const std::vector<SheetRow>& rows, int cell_width) {
    if (rows.empty()) throw HostError("a contact sheet needs at least one row");
    // Scale every image first: the sheet's size follows from the cells.
    std::vector<std::vector<PixelWorld>> cells;
    std::size_t columns = 0;
    for (const SheetRow& row : rows) {
        std::vector<PixelWorld> scaled;
        for (const std::string& file : row.images) {
            PixelWorld image = readImage(file).world;
            const int h = std::max(1, int(std::lround(double(image.height()) * cell_width / image.width())));
            scaled.push_back(resized(image, cell_width, h));
        }
        columns = std::max(columns, scaled.size());
        cells.push_back(std::move(scaled));
    }
    const int width = kGap + int(columns) * (cell_width + kGap);
    int height = kGap;
    for (const auto& row : cells) {
        int tallest = 0;
        for (const PixelWorld& c : row) tallest = std::max(tallest, c.height());
        height += kCaptionHeight + tallest + kGap;
    }
    if (width > 65535 || height > 65535) throw HostError("the contact sheet would exceed 65535 pixels");

    TEV::Image sheet(static_cast<unsigned short>(width), static_cast<unsigned short>(height), 3, 8, 1.0f, 0, 1.0f);
    auto& samples = std::get<std::vector<unsigned char>>(sheet.pixels);
    std::fill(samples.begin(), samples.end(), kBackground);
    int top = kGap;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        TEV::renderText(sheet, Fonts::RobotoMonoBold, Fonts::RobotoMonoBold_size, rows[r].caption, kGap,
                        top + (kCaptionHeight - int(kCaptionText)) / 2, kCaptionText, {0.92f, 0.92f, 0.92f, 1.0f}, 0);
        top += kCaptionHeight;
        int tallest = 0;
        for (std::size_t c = 0; c < cells[r].size(); ++c) {
            const PixelWorld& cell = cells[r][c];
            const int left = kGap + int(c) * (cell_width + kGap);
            for (int y = 0; y < cell.height(); ++y) {
                for (int x = 0; x < cell.width(); ++x) {
                    const Rgba p = cell.get(x, y);
                    // Straight alpha shown over the background.
                    const float a = std::clamp(p.a, 0.0f, 1.0f);
                    const std::size_t i = (std::size_t(top + y) * width + (left + x)) * 3;
                    const float channel[3] = {p.r, p.g, p.b};
                    for (int k = 0; k < 3; ++k) {
                        const float v = std::clamp(std::isnan(channel[k]) ? 0.0f : channel[k], 0.0f, 1.0f);
                        samples[i + k] = static_cast<unsigned char>(std::lround((v * a + (1 - a) * kBackground / 255.0f) * 255));
                    }
                }
            }
            tallest = std::max(tallest, cell.height());
        }
        top += tallest + kGap;
    }

    PixelWorld out(width, height, 8);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* s = &samples[(std::size_t(y) * width + x) * 3];
            out.pixel8(x, y) = PF_Pixel{255, s[0], s[1], s[2]};
        }
    }
    return out;
}

}  // namespace TEV::Host::Cli
