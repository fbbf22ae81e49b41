// Does a server's error text show whole in the plug-in's failure overlay?
// The plug-in draws a server's error text as the second line of its
// three-line overlay, one line, clipped at the frame's right edge.
#pragma once

#include <string>

namespace TEV {
namespace Conform {

// Error texts are judged on an HD frame at full resolution, where the second
// line holds about 94 characters of the overlay's font.
constexpr int kJudgedFrameWidth = 1920;

struct OverlayFit {
    bool fits = false;
    std::string why;  // the reason it does not fit, or where it ends when it does
};

// Whether `text` shows whole as the overlay's second line on a
// kJudgedFrameWidth-wide frame: not empty, UTF-8, no line breaks or other
// control characters (the overlay draws one line), and drawn by the overlay's
// own code without reaching the frame's right edge.
OverlayFit fitOverlayLine(const std::string& text);

}  // namespace Conform
}  // namespace TEV
