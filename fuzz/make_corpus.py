#!/usr/bin/python3
"""Writes the seed corpora (corpus/<target>/) and the hand-made hostile
inputs (regressions/<target>/) of the fuzz targets. Run once with Debian's
/usr/bin/python3 (it needs python3-msgpack); the outputs are committed.
Existing files of the same name are overwritten, others are left alone."""
import math
import os
import struct

import msgpack

HERE = os.path.dirname(os.path.abspath(__file__))
WIDTH, HEIGHT = 16, 8   # the output world of fuzz_reply


def pack(value):
    return msgpack.packb(value, use_bin_type=True)


def write(folder, target, name, data):
    path = os.path.join(HERE, folder, target)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(data)


def image(width=WIDTH, height=HEIGHT, channels=3, bit_depth=8, pixels=None, float_store=False):
    """A canonical image dictionary, keys in the order our encoder writes them."""
    samples = width * height * channels
    if pixels is None:
        if float_store:
            pixels = struct.pack("<%df" % samples, *[(k % 7) / 6.0 for k in range(samples)])
        elif bit_depth == 16:
            pixels = struct.pack("<%dH" % samples, *[k * 257 % 32769 for k in range(samples)])
        else:
            pixels = bytes(k * 37 % 256 for k in range(samples))
    d = {
        "TEV_Dict_Type": "Image", "width": width, "height": height, "channels": channels,
        "bit_depth": bit_depth, "pix_aspect_ratio": 1.0, "rowbytes": width * 4, "downsample": 1.0,
        "pixels": pixels, "pixels_type": "float" if float_store else "uint8",
    }
    return dict(sorted(d.items()))


def render_reply(img):
    return {"result": {"image": img}}


# fuzz_reply's first two bytes: the world's depth, then how the body arrives
# (bits 0-1 smallest bin set apart: 0, 1, 9 or 65536 bytes; bits 2-6 piece
# size less one; bit 7 length announced). The seeds vary the second byte.
DEPTH = {8: b"\x00\x02", 16: b"\x01\x81", 32: b"\x02\xff"}


def reply_seeds():
    """(name, depth selector + reply body) pairs."""
    yield "ok_8bit_rgb", DEPTH[8] + pack(render_reply(image()))
    yield "ok_8bit_rgba", DEPTH[8] + pack(render_reply(image(channels=4)))
    yield "ok_16bit_bytes", DEPTH[16] + pack(render_reply(image(bit_depth=16)))
    yield "ok_16bit_floats", DEPTH[16] + pack(render_reply(image(bit_depth=32, float_store=True)))
    yield "ok_32bit_rgba", DEPTH[32] + pack(render_reply(image(channels=4, bit_depth=32, float_store=True)))
    floats = [k / 384.0 for k in range(WIDTH * HEIGHT * 3)]
    floats[1] = 2  # an integer sample
    yield "ok_32bit_array", DEPTH[32] + pack(render_reply(image(bit_depth=32, pixels=floats)))
    yield "error_text", DEPTH[8] + pack({"error": "Job failed: division by zero \xe9\u4e2d"})
    yield "null_reply", DEPTH[16] + pack(None)
    yield "queued", DEPTH[8] + pack({"status": "queued", "request_id": "1b4e28ba-2fa1-41d2-883f-0016d3cca427"})
    yield "no_image", DEPTH[8] + pack({"result": {"ok": True}})
    yield "wrong_size", DEPTH[8] + pack(render_reply(image(width=8)))
    yield "two_channels", DEPTH[8] + pack(render_reply(image(channels=2)))
    yield "float_for_8bit", DEPTH[8] + pack(render_reply(image(bit_depth=32, float_store=True)))
    yield "short_pixels", DEPTH[32] + pack(render_reply(image(bit_depth=32, pixels=b"\0" * 100)))
    yield "marker_only", DEPTH[8] + pack(render_reply({"TEV_Dict_Type": "Image"}))
    yield "unmarked_image", DEPTH[16] + pack(render_reply(
        {"width": WIDTH, "height": HEIGHT, "channels": 3, "bit_depth": 16, "pixels": b"\1" * 768, "extra": [1, 2]}))


def roundtrip_seeds():
    yield "scalars", pack([None, True, False, 0, 5, -33, 200, -129, 70000, -70000, 2**40, -2**40,
                           2**63 + 5, 1.0, math.nan, -0.0, "", "text", b"", b"\x00\xff"])
    yield "float32", msgpack.packb([1.5, 2.5], use_single_float=True)
    yield "ext", pack([msgpack.ExtType(5, b"abc"), {"k": msgpack.ExtType(1, b"")}])
    yield "nested", pack({"a": {"b": {"c": [1, [2, [3, {"d": []}]]]}}, "e": {}})
    yield "image", pack(image(channels=4))
    yield "float_image", pack(image(bit_depth=32, float_store=True, width=2, height=2))
    yield "non_str_keys", pack({1: "one", "two": 2, b"bin": 3})
    yield "error_reply", pack({"error": "bad", "result": None})


def base64_seeds():
    yield "empty", b""
    yield "three_bytes", b"QUJD"
    yield "padded", b"QUJDRA=="
    yield "one_pad", b"QUJDRA="
    yield "alphabet", b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
    yield "png_header", b"iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJ"


def overlay_input(width, height, channels, storage, scale, downsample=1.0, darken=True,
                  store_samples=None, lines=(b"Error in Tevora", b"Job failed", b"View logs for details")):
    flags = (1 if darken else 0) | (2 if store_samples is not None else 0)
    header = struct.pack("<HHBBBffH", width, height, channels, storage, flags, scale, downsample,
                         store_samples or 0)
    return header + bytes([len(lines[0]), len(lines[1])]) + b"".join(lines)


def overlay_seeds():
    yield "rgb8_512x288", overlay_input(512, 288, 3, 0, 1.0)
    yield "rgba16_320x180", overlay_input(320, 180, 4, 1, 1.0)
    yield "float_256x256_half", overlay_input(256, 256, 3, 2, 0.5)
    yield "tiny_100x40", overlay_input(100, 40, 3, 0, 1.0)
    yield "no_darken", overlay_input(200, 100, 4, 2, 1.0, darken=False)
    yield "empty_second_line", overlay_input(160, 90, 3, 0, 1.0, lines=(b"Error in Tevora", b"", b"View logs"))
    yield "utf8_text", overlay_input(300, 120, 3, 2, 1.0,
                                     lines=("Fehler \u00fcberall".encode(), "\u4e2d\u6587 \U0001f600".encode(), b"ok"))


def regressions():
    """Hostile inputs kept as permanent cases: each once needed (or would need) care."""
    deep = b"\x91" * 200 + b"\xc0"
    yield "reply", "deep_nesting", DEPTH[8] + deep
    yield "reply", "huge_array_header", DEPTH[8] + b"\xdd\xff\xff\xff\xff\xc0"
    yield "reply", "huge_map_header", DEPTH[8] + b"\xdf\xff\xff\xff\xff\xa1a\xc0"
    yield "reply", "huge_str_header", DEPTH[8] + b"\xdb\xff\xff\xff\xffabc"
    yield "reply", "huge_bin_header", DEPTH[8] + b"\xc6\xff\xff\xff\xffabc"
    yield "reply", "huge_image_geometry", DEPTH[16] + pack(render_reply(
        image(width=65535, height=65535, channels=65535, bit_depth=16, pixels=b"\1\2\3\4")))
    yield "reply", "wrapped_geometry", DEPTH[8] + pack(render_reply(
        image(pixels=bytes(WIDTH * HEIGHT * 3)) | {"width": WIDTH + 65536, "height": -(65536 - HEIGHT)}))
    yield "reply", "error_not_string", DEPTH[8] + pack({"error": 7, "result": {"image": None}})
    yield "roundtrip", "marker_after_duplicate", b"\x82" + pack("TEV_Dict_Type") + pack("X") \
        + pack("TEV_Dict_Type") + pack("Image")
    # Found by fuzz_roundtrip: a 32-bit image without samples came back as
    # "uint8" once and as "float" on the next pass.
    yield "roundtrip", "marker_after_duplicate_32bit", b"\x83" + pack("TEV_Dict_Type") + pack("X") \
        + pack("TEV_Dict_Type") + pack("Image") + pack("bit_depth") + pack(32)
    yield "roundtrip", "deep_nesting", b"\x81\xa1k" * 127 + b"\xc0"
    yield "roundtrip", "too_deep", b"\x91" * 129 + b"\xc0"
    yield "roundtrip", "float_bytes_odd", pack(image(bit_depth=32, pixels=b"\0" * 7, width=1, height=1))
    yield "base64", "lone_char", b"QUJDR"
    yield "base64", "pad_only", b"===="
    yield "base64", "line_break", b"QUJD\nRA=="
    yield "base64", "high_bytes", b"QU\xffJD"
    yield "overlay", "scale_nan", overlay_input(512, 512, 4, 2, math.nan)
    yield "overlay", "scale_negative", overlay_input(64, 64, 3, 1, -3.0)
    yield "overlay", "scale_huge", overlay_input(512, 512, 3, 0, 1e30, lines=(b"W", b"", b""))
    yield "overlay", "downsample_small", overlay_input(128, 64, 3, 0, 1.0, downsample=0.05)
    yield "overlay", "downsample_nan", overlay_input(128, 64, 3, 2, 1.0, downsample=math.nan)
    yield "overlay", "short_store", overlay_input(256, 128, 4, 1, 1.0, store_samples=1000)
    yield "overlay", "zero_geometry", overlay_input(0, 0, 0, 0, 1.0)
    yield "overlay", "five_channels", overlay_input(97, 61, 5, 2, 2.0)
    yield "overlay", "invalid_utf8", overlay_input(200, 80, 3, 0, 1.0,
                                                   lines=(b"\xff\xfe\x80abc", b"\xc3", b"\xed\xa0\x80z"))


def main():
    for target, seeds in (("reply", reply_seeds()), ("roundtrip", roundtrip_seeds()),
                          ("base64", base64_seeds()), ("overlay", overlay_seeds())):
        for name, data in seeds:
            write("corpus", target, name, data)
    for target, name, data in regressions():
        write("regressions", target, name, data)


if __name__ == "__main__":
    main()
