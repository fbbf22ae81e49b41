"""Helpers for the server's tests: an HTTP client of the wire protocol, image
dictionaries, and the adjustment computed independently of the server's numpy code."""
import http.client
import math
import struct
import sys
import time
from pathlib import Path

import msgpack

SERVER_SRC = Path(__file__).resolve().parents[2] / "server"
sys.path.insert(0, str(SERVER_SRC))

from tevserver import RenderOptions, Server  # noqa: E402

PENDING = {"result": {"result": "no_result_found"}}
SAMPLE_FORMAT = {8: "=B", 16: "=H", 32: "<f"}  # 16-bit in native order, floats little-endian


class ApiClient:
    """One keep-alive connection to a server."""

    def __init__(self, address, timeout=10):
        self.conn = http.client.HTTPConnection(address[0], address[1], timeout=timeout)

    def close(self):
        self.conn.close()

    def post(self, body, path="/api", method="POST", headers=None):
        """(HTTP status, decoded body) of one raw request."""
        self.conn.request(method, path, body=body,
                          headers=headers or {"Content-Type": "application/x-msgpack"})
        response = self.conn.getresponse()
        data = response.read()
        return response.status, msgpack.unpackb(data) if data else None

    def call(self, method, **entries):
        """The reply of one protocol message (with a client-like envelope); HTTP 200 expected."""
        message = {"method": method, "plugin_id": "TestPlugin", "plugin_version": "1.0.0",
                   "tev_lib_version": "2"}
        message.setdefault("request_id", entries.pop("envelope_id", f"env-{time.monotonic_ns()}"))
        message.update(entries)
        status, reply = self.post(msgpack.packb(message, use_bin_type=True))
        if status != 200:
            raise AssertionError(f"{method}: HTTP {status} {reply}")
        return reply

    def render(self, job_id, image, params):
        return self.call("call_plugin", request_id=job_id, method_version=1, function_name="render",
                         args={"image": image, "params": params, "instance_id": "instance-1"})

    def wait_result(self, job_id, timeout=10.0):
        """The first get_result reply that is not the pending marker."""
        deadline = time.monotonic() + timeout
        while True:
            reply = self.call("get_result", for_request_id=job_id)
            if reply != PENDING:
                return reply
            if time.monotonic() > deadline:
                raise AssertionError(f"job {job_id} still pending after {timeout} s")
            time.sleep(0.005)


def params(brightness=1.0, contrast=1.0, saturation=1.0, enable_effect=True, type=1):
    return {"brightness": brightness, "contrast": contrast, "saturation": saturation,
            "enable_effect": enable_effect, "type": type}


def image(width, height, channels, depth, samples):
    """A canonical image dictionary holding the given samples."""
    assert len(samples) == width * height * channels
    fmt = SAMPLE_FORMAT[depth]
    pixels = struct.pack(f"{fmt[0]}{len(samples)}{fmt[1]}", *samples)
    return {"TEV_Dict_Type": "Image", "width": width, "height": height, "channels": channels,
            "bit_depth": depth, "pix_aspect_ratio": 1.0, "rowbytes": width * channels * 4,
            "downsample": 1.0, "pixels": pixels, "pixels_type": "float" if depth == 32 else "uint8"}


def samples_of(image_dict):
    fmt = SAMPLE_FORMAT[image_dict["bit_depth"]]
    pixels = image_dict["pixels"]
    return list(struct.unpack(f"{fmt[0]}{len(pixels) // struct.calcsize(fmt)}{fmt[1]}", pixels))


def expected_samples(samples, channels, depth, p):
    """The documented adjustment, sample by sample in plain Python floats (IEEE doubles):
    y = k1 * x + (k2 * L + t) with k1 = b * c * s, k2 = b * c * (1 - s), t = S * 0.5 * (1 - c)."""
    scale = {8: 255.0, 16: 32768.0, 32: 1.0}[depth]
    b, c, s = p["brightness"], p["contrast"], p["saturation"]
    k1, k2, t = b * c * s, b * c * (1 - s), scale * 0.5 * (1 - c)
    colour = 3 if channels >= 3 else 1
    out = []
    for i in range(0, len(samples), channels):
        pixel = samples[i:i + channels]
        if colour == 3:
            luma = 0.2126 * pixel[0] + 0.7152 * pixel[1] + 0.0722 * pixel[2]
            shift = k2 * luma + t
            n = [k1 * x + shift for x in pixel[:3]]
        else:
            n = [b * c * pixel[0] + t]
        for y in n:
            if depth == 32:
                try:
                    out.append(struct.unpack("<f", struct.pack("<f", y))[0])
                except OverflowError:  # beyond float32: the nearest float is an infinity
                    out.append(math.copysign(math.inf, y))
            else:
                out.append(round(min(max(y, 0.0), scale)))  # round(): half to even
        out.extend(pixel[colour:])
    return out


def wait_for(condition, timeout=5.0):
    """True once condition() holds, False after timeout seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def start_server(test, **options):
    """A started in-process server on a free port, stopped when the test ends."""
    server = Server(port=0, **options)
    server.start()
    test.addCleanup(server.stop)
    return server


__all__ = ["ApiClient", "PENDING", "RenderOptions", "Server", "expected_samples", "image",
           "params", "samples_of", "start_server", "wait_for"]
