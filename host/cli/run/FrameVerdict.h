// What became of a rendered frame: processed, unchanged, or the plug-in's
// failure overlay.
//
// The plug-in answers the host with success also when it drew a failure
// message onto the frame, and it does not hand the message to the host. The
// front end therefore reconstructs it: every overlay the plug-in could have
// drawn for this frame (its fixed "Can't connect" message, and the messages
// built from the failure lines it logged while the frame was rendering) is
// redrawn onto the input with the same drawing code, and the frame counts as
// an overlay only when one redraw equals the output exactly (the candidates
// come from KnownPlugin.h). With several frames in flight, the log lines of
// all of them are candidates; only the one that reproduces this frame's
// pixels is reported.
#pragma once

#include <string>
#include <vector>

#include "run/KnownPlugin.h"
#include "tevhost/PixelWorld.h"

namespace TEV::Host::Cli {

// True when `output` equals `input` with `overlay` drawn as the plug-in draws
// it (3-channel image of the input at the world's depth, darkened band, scale
// `downsample`) and full alpha. The worlds must have equal size and depth.
bool showsOverlay(const PixelWorld& input, const PixelWorld& output, const OverlayText& overlay, float downsample);

// True when the colour channels of the two worlds are equal (alpha ignored:
// the plug-in returns opaque frames).
bool sameColour(const PixelWorld& a, const PixelWorld& b);

enum class Outcome { Processed, Unchanged, Overlay };

struct Verdict {
    Outcome outcome = Outcome::Processed;
    OverlayText overlay;  // Overlay: the message found
};

// Unchanged when the colours equal the input's; Overlay when a candidate
// reproduces the output; Processed otherwise.
Verdict judgeFrame(const PixelWorld& input, const PixelWorld& output, float downsample,
                   const std::vector<std::string>& log_messages);

}  // namespace TEV::Host::Cli
