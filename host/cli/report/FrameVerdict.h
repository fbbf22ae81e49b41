// What became of a rendered frame: processed, unchanged, or the plug-in's
// failure overlay.
//
// The plug-in answers the host with success also when it drew a failure
// message onto the frame, and it does not hand the message to the host. The
// frame itself tells: the overlay changes only a band of rows at a fixed place
// (TEV::overlayBand), darkening it and drawing a disc and text right of a
// strip of columns that is only darkened. A frame whose colours equal the
// input's outside the band, differ inside it, and whose strip holds the input
// darkened (opaque) is an overlay, whatever the log says.
//
// The message is then named from the log: every overlay the plug-in could
// have drawn (its fixed "Can't connect" messages, and those built from the
// failure lines it logged while the frame was rendering) is redrawn onto the
// input with the same drawing code, and the one whose redraw equals the output
// exactly is reported (the candidates come from KnownPlugin.h). With several
// frames in flight, the log lines of all of them are candidates. Without a
// readable log the overlay stays unnamed.
#pragma once

#include <string>
#include <vector>

#include "report/FrameState.h"
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

struct Verdict {
    FrameState state = FrameState::Processed;  // processed, unchanged or overlay
    OverlayText overlay;  // Overlay: the message found
};

// Unchanged when the colours equal the input's; Overlay when the frame shows
// the overlay's band (named when a candidate reproduces the output, else
// `overlay` stays empty); Processed otherwise. A processed frame is told from
// its first differing row.
Verdict judgeFrame(const PixelWorld& input, const PixelWorld& output, float downsample,
                   const std::vector<std::string>& log_messages);

}  // namespace TEV::Host::Cli
