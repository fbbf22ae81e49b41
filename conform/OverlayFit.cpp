// Error texts measured by drawing them with the overlay's own code.
#include "OverlayFit.h"

#include <variant>
#include <vector>

#include "TEV_Image.h"
#include "Text.h"

namespace TEV {
namespace Conform {

namespace {

// The overlay is drawn on a canvas this many times as wide as the judged
// frame, at the matching scale, so that it has the judged frame's layout but
// nothing is clipped: where the text ends is then visible.
constexpr int kCanvasFactor = 4;
// Tall enough for the whole text block of the judged frame's layout.
constexpr int kCanvasHeight = 200;
// No more characters than this can fit; longer texts are not drawn.
constexpr std::size_t kMostCharacters = 1000;

// The column after the last one the overlay touches when it draws `text` as
// its second line.
int drawnExtent(const std::string& text) {
    Image canvas(kCanvasFactor * kJudgedFrameWidth, kCanvasHeight, 3, 8, 1.0f, 0, 1.0f);
    writeOnImage(canvas, "", text, "", false, 1.0f / kCanvasFactor);
    const auto& bytes = std::get<std::vector<unsigned char>>(canvas.pixels);
    int extent = 0;
    for (int y = 0; y < kCanvasHeight; ++y) {
        const unsigned char* row = bytes.data() + std::size_t(y) * canvas.width * 3;
        for (int x = canvas.width - 1; x >= extent; --x) {
            if (row[3 * x] | row[3 * x + 1] | row[3 * x + 2]) {
                extent = x + 1;
                break;
            }
        }
    }
    return extent;
}

std::string controlName(unsigned char c) {
    if (c == '\n') return "a line break";
    if (c == '\r') return "a carriage return";
    if (c == '\t') return "a tab";
    return "a control character";
}

}  // namespace

OverlayFit fitOverlayLine(const std::string& text) {
    if (text.empty()) return {false, "the text is empty"};
    const std::size_t bad = firstBadUtf8(text);
    if (bad != std::string::npos) return {false, "not UTF-8 (byte " + std::to_string(bad) + ")"};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f)
            return {false, "holds " + controlName(c) + " at byte " + std::to_string(i) + "; the overlay draws one line"};
    }
    if (text.size() > kMostCharacters)
        return {false, std::to_string(text.size()) + " bytes, far more than a line holds"};
    const int extent = drawnExtent(text);
    if (extent > kJudgedFrameWidth)
        return {false, std::string(extent >= kCanvasFactor * kJudgedFrameWidth ? "runs past column " : "runs to column ") +
                           std::to_string(extent) + " of a " + std::to_string(kJudgedFrameWidth) +
                           "-pixel frame and is cut off"};
    return {true, "ends at column " + std::to_string(extent) + " of " + std::to_string(kJudgedFrameWidth)};
}

}  // namespace Conform
}  // namespace TEV
