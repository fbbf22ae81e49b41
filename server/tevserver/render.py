"""The "render" function: its parameters and the colour adjustment.

The adjustment, applied to the colour channels in this order, in float64:

    n = x / S                                   normalise; S = 255 (8-bit), 32768 (16-bit), 1 (32-bit)
    n = n * brightness                          brightness is a gain
    n = (n - 0.5) * contrast + 0.5              contrast around mid-grey
    L = 0.2126 * R + 0.7152 * G + 0.0722 * B    Rec. 709 luma of the pixel after the two steps above,
                                                summed left to right
    n = L + (n - L) * saturation                saturation around that luma
    y = n * S

8 and 16 bits: y is rounded half to even and clipped to [0, 255] or [0, 32768].
32 bits: y is rounded to the nearest float32 and not clipped (NaN and infinities pass).
With fewer than three channels the first one is grey and saturation does nothing;
a fourth (alpha) channel, or a second beside grey, is copied unchanged.
"""
from dataclasses import dataclass
import math
import time

import numpy as np

from .errors import RequestError
from .image import frame_from_dict, frame_to_dict

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



@dataclass(frozen=True)
class RenderOptions:
    # Progress and abort are checked between blocks of rows of about this many
    # samples: a few per HD frame.
    block_samples: int = 1 << 20
    # A pause before each block; only tests that watch progress and abort
    # mid-frame set it.
    block_pause: float = 0.0


@dataclass(frozen=True)
class RenderParams:
    brightness: float
    contrast: float
    saturation: float
    enable_effect: bool
    type: int

    def changes_pixels(self):
        return self.enable_effect and self.type != PASS_THROUGH_TYPE


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
    return RenderParams(_slider(params, "brightness"), _slider(params, "contrast"),
                        _slider(params, "saturation"), enable, kind)


def prepare(args):
    """Checks a render's "args" and returns (frame, params) ready for a job."""
    if not isinstance(args, dict):
        raise RequestError(f"render 'args' must be a map, not {type(args).__name__}")
    if "image" not in args:
        raise RequestError("render args lack 'image'")
    if "params" not in args:
        raise RequestError("render args lack 'params'")
    return frame_from_dict(args["image"]), parse_params(args["params"])


def adjust_block(src, dst, params, bit_depth):
    """Writes the adjustment of one (rows, width, channels) block of src into dst."""
    scale = FULL_SCALE[bit_depth]
    colour = 3 if src.shape[2] >= 3 else 1
    n = src[:, :, :colour].astype(np.float64)
    n /= scale
    n *= params.brightness
    n -= MID_GREY
    n *= params.contrast
    n += MID_GREY
    if colour == 3:
        r, g, b = n[:, :, 0], n[:, :, 1], n[:, :, 2]
        luma = (LUMA[0] * r + LUMA[1] * g + LUMA[2] * b)[:, :, np.newaxis]
        n -= luma
        n *= params.saturation
        n = luma + n
    n *= scale

    if bit_depth != 32:
        np.rint(n, out=n)  # half to even
        np.clip(n, 0.0, scale, out=n)
    dst[:, :, :colour] = n  # exact for the rounded integers; float32 rounds to nearest
    dst[:, :, colour:] = src[:, :, colour:]


def run(frame, params, job, options=RenderOptions()):
    """Renders a frame as a job: reports progress per block, stops on abort.

    Returns the job's result: {"result": {"image": <canonical image dictionary>}}.
    """
    if not params.changes_pixels():
        job.report(100)
        return {"result": {"image": frame_to_dict(frame)}}

    src = frame.samples()
    out = np.empty_like(src)
    rows = max(1, options.block_samples // max(1, frame.width * frame.channels))
    for top in range(0, frame.height, rows):
        job.check_abort()
        if options.block_pause:
            time.sleep(options.block_pause)
        bottom = min(frame.height, top + rows)
        adjust_block(src[top:bottom], out[top:bottom], params, frame.bit_depth)
        job.report(100 * bottom // frame.height)
    job.report(100)
    return {"result": {"image": frame_to_dict(frame.with_pixels(out))}}
