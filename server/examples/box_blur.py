"""An example processing server: a separable box blur, numpy only.

    python3 -m tevserver --foreground --process server/examples/box_blur.py:BLUR
    python3 server/examples/box_blur.py --foreground --port 7100     # the same

The plug-in's Brightness slider sets the radius: round(4 * brightness) pixels,
so 0 to 8 over the slider's 0..2 (Contrast, Saturation and Type are not used).
Every output sample is the mean of the (2r+1) x (2r+1) samples around it in its
channel, the frame's edge rows and columns repeated beyond it; integer frames are
rounded half to even, float frames keep NaN and infinities where they reach.
"""
import math
import sys

import numpy as np

from tevserver import Processing, RequestError

MAX_RADIUS = 32


class BoxBlur(Processing):
    name = "box blur"
    depths = (8, 16, 32)
    channels = (1, 2, 3, 4)

    def check(self, params):
        params = super().check(params)
        brightness = params.get("brightness")
        if type(brightness) not in (int, float) or not math.isfinite(brightness):
            raise RequestError("box blur: 'brightness' (the radius / 4) must be a finite number")
        radius = round(4 * brightness)
        if not 0 <= radius <= MAX_RADIUS:
            raise RequestError(f"box blur: radius {radius} (4 x brightness) is outside 0..{MAX_RADIUS}")
        return {"radius": radius, "enabled": params.get("enable_effect") is not False}

    def changes(self, params):
        return params["enabled"] and params["radius"] > 0

    def describe(self, params):
        return f"box blur of radius {params['radius']}"

    def rows(self, src, dst, top, bottom, params, bit_depth):
        r = params["radius"]
        if bit_depth == 32:  # float sums depend on their order: one fixed order, the same in any block
            block = padded(src, top, bottom, r, np.float64)
            width, rows = src.shape[1], bottom - top
            across = block[:, 0:width].copy()
            for k in range(1, 2 * r + 1):
                across += block[:, k:k + width]
            total = across[0:rows].copy()
            for k in range(1, 2 * r + 1):
                total += across[k:k + rows]
            total /= (2 * r + 1) ** 2
            with np.errstate(all="ignore"):
                dst[top:bottom] = total.astype(np.float32)
        else:  # integer sums are exact in any order and fit 16 (8-bit, across) or 32 bits
            block = padded(src, top, bottom, r, np.uint16 if bit_depth == 8 else np.int32)
            total = window_sums(window_sums(block, 2 * r + 1, 1).astype(np.int32), 2 * r + 1, 0)
            mean = total / (2 * r + 1) ** 2
            np.rint(mean, out=mean)  # a mean of integers stays within their range
            dst[top:bottom] = mean.astype(dst.dtype)


def padded(src, top, bottom, r, kind):
    """Rows top..bottom of src with r rows and columns of context around them, edges repeated."""
    height, width, channels = src.shape
    lo, hi = max(0, top - r), min(height, bottom + r)
    first = r - (top - lo)  # rows above the frame's top
    block = np.empty((bottom - top + 2 * r, width + 2 * r, channels), kind)
    block[first:first + hi - lo, r:r + width] = src[lo:hi]
    block[first:first + hi - lo, :r] = block[first:first + hi - lo, r:r + 1]
    block[first:first + hi - lo, r + width:] = block[first:first + hi - lo, r + width - 1:r + width]
    block[:first] = block[first]
    block[first + hi - lo:] = block[first + hi - lo - 1]
    return block


def window_sums(a, n, axis):
    """The sums of every n consecutive entries along axis, by doubling: sums of 2, 4, 8, ...
    entries, those of n's binary digits added up (about 2 log2(n) additions, not n)."""
    def span(x, start, length):
        return x[(slice(None),) * axis + (slice(start, start + length),)]
    count = a.shape[axis] - n + 1
    total, at, size = None, 0, 1
    while True:
        if n & 1:
            total = span(a, at, count).copy() if total is None else np.add(total, span(a, at, count), out=total)
            at += size
        n >>= 1
        if not n:
            return total
        a = span(a, 0, a.shape[axis] - size) + span(a, size, a.shape[axis] - size)
        size *= 2


BLUR = BoxBlur()

if __name__ == "__main__":
    from tevserver.cli import main
    sys.exit(main(["--process", f"{__file__}:BLUR", *sys.argv[1:]]))
