"""The reference server's processing: brightness, contrast and saturation.

ADJUSTMENT is the default Processing of Server() and `python3 -m tevserver`.

Brightness, contrast and saturation together are one affine map of the colour
channels, applied in one pass in float64 with these coefficients:

    k1 = brightness * contrast * saturation             (left to right)
    k2 = brightness * contrast * (1 - saturation)
    t  = S * 0.5 * (1 - contrast)                       S = 255 (8-bit), 32768 (16-bit), 1 (32-bit)

and, per pixel, on the samples x as they are (not normalised):

    L = 0.2126 * R + 0.7152 * G + 0.0722 * B            Rec. 709 luma, summed left to right
    y = k1 * x + (k2 * L + t)                           for each of R, G and B

which is the gain of brightness, contrast around mid-grey and saturation around
the luma, multiplied out. With fewer than three channels the first one is grey
and y = (brightness * contrast) * x + t; a fourth (alpha) channel, or a second
beside grey, is copied unchanged.

8 and 16 bits: y is clipped to [0, S] and rounded half to even.
32 bits: y is rounded to the nearest float32 and not clipped: NaN and infinities
pass, and results beyond the float32 range become infinities.
Parameters for which (|k1| + |k2|) * 65535 + |t| overflows a float64 are refused
before the job is queued, so integer frames never meet an infinity.
"""
from dataclasses import dataclass
import functools
import math
import threading

import numpy as np

from .errors import RequestError
from .image import SAMPLE_TYPES
from .processing import Processing

TYPE_NAMES = {
    1: "Skip benchmarking",
    2: "Return Image without modifying",
    3: "OpenCV",
    4: "Tensor(CPU)",
    5: "Tensor(GPU)",
    6: "Torch(MPS)",
}
PASS_THROUGH_TYPE = 2
UNSERVED_TYPES = {5, 6}  # GPU and MPS backends: there is no such device here

FULL_SCALE = {8: 255.0, 16: 32768.0, 32: 1.0}
LUMA = (0.2126, 0.7152, 0.0722)
MID_GREY = 0.5
# The largest sample an integer frame holds (16-bit values are not checked against 32768).
LARGEST_SAMPLE = 65535.0
# Pixels adjusted at a time inside a block: their float64 scratch stays near the core.
PASS_PIXELS = 1 << 14
# Samples looked up at a time in a table (their indices are converted first).
TABLE_PASS = 1 << 15


@dataclass(frozen=True)
class RenderParams:
    brightness: float
    contrast: float
    saturation: float
    enable_effect: bool
    type: int

    def changes_pixels(self):
        return self.enable_effect and self.type != PASS_THROUGH_TYPE

    def coefficients(self):
        """(k1, k2, grey gain) of the affine map, in the documented order."""
        gain = self.brightness * self.contrast
        return gain * self.saturation, gain * (1.0 - self.saturation), gain

    def offset(self, bit_depth):
        return FULL_SCALE[bit_depth] * MID_GREY * (1.0 - self.contrast)


def _slider(params, key):
    value = params.get(key)
    if value is None:
        raise RequestError(f"render params lack '{key}'")
    if type(value) not in (int, float):
        raise RequestError(f"render param '{key}' must be a number, not {type(value).__name__}")
    if not math.isfinite(value):
        raise RequestError(f"render param '{key}' is {value}, not a finite number")
    return float(value)


def parse_params(params):
    """Checks the "params" map of a render; RequestError names what is missing or mistyped."""
    if not isinstance(params, dict):
        raise RequestError(f"render 'params' must be a map, not {type(params).__name__}")
    enable = params.get("enable_effect")
    if type(enable) is not bool:
        raise RequestError("render param 'enable_effect' must be a boolean"
                           if enable is not None else "render params lack 'enable_effect'")
    kind = params.get("type")
    if type(kind) is not int:
        raise RequestError("render param 'type' must be an integer"
                           if kind is not None else "render params lack 'type'")
    if kind not in TYPE_NAMES:
        raise RequestError(f"render param 'type' is {kind}; known types are 1 to {len(TYPE_NAMES)}")
    if kind in UNSERVED_TYPES and enable:
        raise RequestError(f"{TYPE_NAMES[kind]} is not available on this machine")
    parsed = RenderParams(_slider(params, "brightness"), _slider(params, "contrast"),
                          _slider(params, "saturation"), enable, kind)
    if parsed.changes_pixels():
        k1, k2, _ = parsed.coefficients()
        if not math.isfinite((abs(k1) + abs(k2)) * LARGEST_SAMPLE + abs(parsed.offset(16))):
            raise RequestError(f"render params brightness {parsed.brightness:g}, contrast {parsed.contrast:g} "
                               f"and saturation {parsed.saturation:g} overflow the adjustment")
    return parsed


@functools.lru_cache(maxsize=8)
def _constants(pixels, colour, high):
    """Read-only (pixels, colour) arrays of the luma weights, 0 and high: numpy's
    element-wise loops run much faster against arrays than against scalars."""
    arrays = (np.tile(np.array(LUMA[:colour]), (pixels, 1)), np.zeros((pixels, colour)),
              np.full((pixels, colour), high))
    for a in arrays:
        a.flags.writeable = False
    return arrays


_kept = threading.local()


def _scratch(name, shape, dtype=np.float64):
    """This thread's scratch array of that name and shape, made once and reused by every
    block that this thread adjusts."""
    arrays = getattr(_kept, "arrays", None)
    if arrays is None:
        arrays = _kept.arrays = {}
    key = (name, shape, dtype)
    if key not in arrays:
        arrays[key] = np.empty(shape, dtype)
    return arrays[key]


@functools.lru_cache(maxsize=8)
def _table(gain, offset, bit_depth):
    """The output of every possible sample value under y = gain * x + offset, clipped and
    rounded as documented (the same operations, on each value once). For 8 bits, a table
    of pairs: the output of two adjacent samples read as one native 16-bit value."""
    values = np.arange(1 << bit_depth, dtype=np.float64)
    values *= gain
    values += offset
    np.minimum(values, FULL_SCALE[bit_depth], out=values)
    np.maximum(values, 0.0, out=values)
    np.rint(values, out=values)
    table = values.astype(SAMPLE_TYPES[bit_depth])
    if bit_depth == 8:
        table = table[np.arange(1 << 16, dtype=np.uint16).view(np.uint8)].view(np.uint16)
    table.flags.writeable = False
    return table


def _look_up(table, src, dst):
    """dst = table[src] over flat, contiguous arrays, a pass of TABLE_PASS at a time."""
    index = _scratch("index", (TABLE_PASS,), np.intp)
    for first in range(0, len(src), TABLE_PASS):
        piece = src[first:first + TABLE_PASS]
        n = len(piece)
        np.copyto(index[:n], piece)
        np.take(table, index[:n], out=dst[first:first + n], mode="clip")  # the indices are in range


def _adjust_by_table(src, dst, gain, offset, bit_depth):
    """Integer frames whose channels do not mix: every sample through one table."""
    table = _table(gain, offset, bit_depth)
    flat_in, flat_out = src.reshape(-1), dst.reshape(-1)
    if bit_depth == 8:
        even = len(flat_in) & ~1
        _look_up(table, flat_in[:even].view(np.uint16), flat_out[:even].view(np.uint16))
        if even < len(flat_in):  # the last sample: the pair of it with itself, in either byte order
            flat_out[even:] = table[flat_in[even:].astype(np.intp) * 257].view(np.uint8)[::2]
    else:
        _look_up(table, flat_in, flat_out)


def _adjust_by_passes(src, dst, params, bit_depth, colour):
    """The affine map in float64, PASS_PIXELS pixels at a time."""
    height, width, channels = src.shape
    k1, k2, grey_gain = params.coefficients()
    offset = params.offset(bit_depth)
    pixels_in = src.reshape(height * width, channels)
    pixels_out = dst.reshape(height * width, channels)
    weights, low, high = _constants(PASS_PIXELS, colour, FULL_SCALE[bit_depth])
    x = _scratch("x", (PASS_PIXELS, colour))  # the pixels in hand, interleaved as they come
    products = _scratch("products", (PASS_PIXELS, colour))
    shift = _scratch("shift", (PASS_PIXELS,))
    with np.errstate(all="ignore"):  # float frames: overflow to infinities is defined above
        for first in range(0, height * width, PASS_PIXELS):
            block_in = pixels_in[first:first + PASS_PIXELS, :colour]
            n = block_in.shape[0]
            xs = x[:n]
            np.copyto(xs, block_in)
            if colour == 3:
                ps, ls = products[:n], shift[:n]
                np.multiply(xs, weights[:n], out=ps)     # 0.2126 R, 0.7152 G, 0.0722 B
                np.add(ps[:, 0], ps[:, 1], out=ls)      # summed left to right: the luma
                ls += ps[:, 2]
                ls *= k2
                ls += offset                             # k2 * L + t
                xs *= k1
                for c in range(3):
                    xs[:, c] += ls
            else:
                xs *= grey_gain
                xs += offset
            if bit_depth != 32:
                np.minimum(xs, high[:n], out=xs)
                np.maximum(xs, low[:n], out=xs)
                np.rint(xs, out=xs)  # half to even; exact in the integer type
            np.copyto(pixels_out[first:first + n, :colour], xs, casting="unsafe")


def adjust_block(src, dst, params, bit_depth):
    """Writes the adjustment of one (rows, width, channels) block of src into dst.

    Integer frames whose colour channels do not mix (saturation 1, which makes k2 zero,
    or a grey frame) go through a table of every sample value: k2 * L + t is then t
    exactly for every pixel (L is finite), so each sample's result depends on its own
    value alone, and the table holds the same results as the passes in float64."""
    channels = src.shape[2]
    colour = 3 if channels >= 3 else 1
    k1, k2, grey_gain = params.coefficients()
    if bit_depth != 32 and (colour == 1 or k2 == 0.0) and src.flags.c_contiguous and dst.flags.c_contiguous:
        _adjust_by_table(src, dst, grey_gain if colour == 1 else k1, params.offset(bit_depth), bit_depth)
    else:
        _adjust_by_passes(src, dst, params, bit_depth, colour)
    dst[:, :, colour:] = src[:, :, colour:]


class Adjustment(Processing):
    """Brightness, contrast and saturation as one affine map (see the module's text)."""

    name = "adjustment"
    depths = (8, 16, 32)
    channels = (1, 2, 3, 4)
    fills_rows = True

    def check(self, params):
        return parse_params(params)

    def changes(self, params):
        return params.changes_pixels()

    def describe(self, params):
        return TYPE_NAMES[params.type]

    def rows(self, src, dst, top, bottom, params, bit_depth):
        adjust_block(src[top:bottom], dst[top:bottom], params, bit_depth)


ADJUSTMENT = Adjustment()
