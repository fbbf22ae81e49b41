"""The canonical image dictionary and the numpy view of its samples.

An image travels as a map with "width", "height", "channels", "bit_depth"
(ints), "pix_aspect_ratio", "downsample" (floats), "rowbytes" (int, carried as
information), "pixels" (one bin) and "pixels_type" ("uint8" for 8-bit bytes and
16-bit native-order uint16 values, "float" for 32-bit little-endian float32),
marked "TEV_Dict_Type": "Image". Samples are interleaved, row after row.
"""
from dataclasses import dataclass

import numpy as np

from .errors import RequestError

SAMPLE_TYPES = {
    8: np.dtype(np.uint8),
    16: np.dtype("=u2"),
    32: np.dtype("<f4"),
}
MAX_DIMENSION = 65535  # width, height and channels are 16-bit fields at the client
MAX_CHANNELS = 4


@dataclass
class Frame:
    width: int
    height: int
    channels: int
    bit_depth: int
    pix_aspect_ratio: float
    rowbytes: int
    downsample: float
    pixels: object  # bytes-like (bytes or a byte memoryview), exactly width*height*channels samples

    def samples(self):
        """Read-only (height, width, channels) array over the pixel bytes, no copy."""
        flat = np.frombuffer(self.pixels, dtype=SAMPLE_TYPES[self.bit_depth])
        return flat.reshape(self.height, self.width, self.channels)

    def with_pixels(self, pixels):
        """The same geometry over other pixel bytes (bytes-like or a numpy array)."""
        return Frame(self.width, self.height, self.channels, self.bit_depth,
                     self.pix_aspect_ratio, self.rowbytes, self.downsample, pixels)


def _int_entry(d, key, low, high):
    value = d.get(key)
    if value is None:
        raise RequestError(f"image lacks '{key}'")
    if type(value) is not int:  # bool is an int subclass and no dimension
        raise RequestError(f"image '{key}' must be an integer, not {type(value).__name__}")
    if not low <= value <= high:
        raise RequestError(f"image '{key}' is {value}, outside {low}..{high}")
    return value


def _ratio_entry(d, key):
    value = d.get(key, 1.0)
    if type(value) not in (int, float):
        raise RequestError(f"image '{key}' must be a number, not {type(value).__name__}")
    return float(value)


def frame_from_dict(d):
    """Checks an image dictionary and returns its Frame; RequestError says what is wrong."""
    if not isinstance(d, dict):
        raise RequestError(f"'image' must be a map, not {type(d).__name__}")
    width = _int_entry(d, "width", 1, MAX_DIMENSION)
    height = _int_entry(d, "height", 1, MAX_DIMENSION)
    channels = _int_entry(d, "channels", 1, MAX_CHANNELS)
    bit_depth = _int_entry(d, "bit_depth", 0, 32)
    if bit_depth not in SAMPLE_TYPES:
        raise RequestError(f"image 'bit_depth' is {bit_depth}; only 8, 16 and 32 are served")
    rowbytes = d.get("rowbytes", 0)
    if type(rowbytes) is not int:
        raise RequestError(f"image 'rowbytes' must be an integer, not {type(rowbytes).__name__}")

    expected_type = "float" if bit_depth == 32 else "uint8"
    pixels_type = d.get("pixels_type", expected_type)
    if pixels_type != expected_type:
        raise RequestError(f"image 'pixels_type' is {pixels_type!r}; "
                           f"{bit_depth}-bit pixels travel as {expected_type!r}")

    pixels = d.get("pixels")
    if pixels is None:
        raise RequestError("image lacks 'pixels'")
    if not isinstance(pixels, (bytes, bytearray, memoryview)):
        raise RequestError(f"image 'pixels' must be bytes, not {type(pixels).__name__}")
    need = width * height * channels * SAMPLE_TYPES[bit_depth].itemsize
    if len(pixels) != need:
        raise RequestError(f"image 'pixels' holds {len(pixels)} bytes but {width}x{height}x"
                           f"{channels} samples of {bit_depth} bits need {need}")

    return Frame(width, height, channels, bit_depth, _ratio_entry(d, "pix_aspect_ratio"),
                 rowbytes, _ratio_entry(d, "downsample"), pixels)


def frame_to_dict(frame):
    """The canonical image dictionary of a frame; the pixels stay a view, not a copy."""
    pixels = frame.pixels
    if isinstance(pixels, np.ndarray):
        pixels = memoryview(np.ascontiguousarray(pixels)).cast("B")
    return {
        "TEV_Dict_Type": "Image",
        "width": frame.width,
        "height": frame.height,
        "channels": frame.channels,
        "bit_depth": frame.bit_depth,
        "pix_aspect_ratio": float(frame.pix_aspect_ratio),
        "rowbytes": frame.rowbytes,
        "downsample": float(frame.downsample),
        "pixels_type": "float" if frame.bit_depth == 32 else "uint8",
        "pixels": pixels,  # last: the reply then ends with the pixel block itself
    }
