"""The example server (server/examples/box_blur.py) on the test tree's port: tev-conform
passes it in full, and tev-host renders a PNG through it with the real plug-in.
Usage: test_example.py --port N --conform EXE --host EXE --plugin FILE"""
import argparse
import os
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib
from pathlib import Path

from support import SERVER_SRC, ApiClient, wait_for

ARGS = None


def write_png(path, width, height, rows):
    """An 8-bit RGB PNG of rows (lists of width * 3 samples)."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes(row) for row in rows)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                     + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def read_png_rgb(path):
    """The rows of an 8-bit RGB or RGBA PNG as lists of R, G, B samples."""
    data = path.read_bytes()
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        header = struct.unpack(">IIBB", body[:10]) if kind == b"IHDR" else header
        idat += body if kind == b"IDAT" else b""
        at += 12 + length
    width, height, depth, colour = header
    assert depth == 8 and colour in (2, 6), header
    pixel = 3 if colour == 2 else 4
    raw, stride, rows, prior = zlib.decompress(idat), width * pixel, [], bytearray(width * pixel)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - pixel] if i >= pixel else 0
            b, c = prior[i], prior[i - pixel] if i >= pixel else 0
            p = a + b - c
            paeth = min((abs(p - a), 0, a), (abs(p - b), 1, b), (abs(p - c), 2, c))[2]
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth)[kind]) & 0xFF
        rows.append([v for x in range(width) for v in line[x * pixel:x * pixel + 3]])
        prior = line
    return rows


def box_blur(rows, width, height, radius):
    """The documented blur: the mean of the (2r+1)^2 samples around, edges repeated, half to even."""
    def at(x, y, c):
        return rows[min(max(y, 0), height - 1)][min(max(x, 0), width - 1) * 3 + c]
    span = range(-radius, radius + 1)
    return [[round(sum(sum(at(x + i, y + j, c) for i in span) for j in span) / len(span) ** 2)
             for x in range(width) for c in range(3)] for y in range(height)]


class ExampleServerTest(unittest.TestCase):
    def setUp(self):
        env = {"PYTHONPATH": str(SERVER_SRC), "PATH": os.environ.get("PATH", "")}
        self.server = subprocess.Popen(
            [sys.executable, "-m", "tevserver", "--foreground", "--port", str(ARGS.port), "--idle-seconds", "120",
             "--process", f"{SERVER_SRC}/examples/box_blur.py:BLUR"], env=env, stderr=subprocess.PIPE, text=True)
        self.addCleanup(self.stop)

        def listening():
            self.assertIsNone(self.server.poll(), "the example server exited at start")
            client = ApiClient(("127.0.0.1", ARGS.port), timeout=1)
            try:
                return client.call("open_tev_app") == {"result": {"ok": True}}
            except OSError:
                return False
            finally:
                client.close()
        self.assertTrue(wait_for(listening, 15))

    def stop(self):
        self.server.send_signal(signal.SIGTERM)
        _, errors = self.server.communicate(timeout=15)
        self.assertEqual(self.server.returncode, 0, errors)
        self.assertNotIn("ERROR", errors)

    def test_tev_conform_passes_it_and_tev_host_renders_through_it(self):
        done = subprocess.run([ARGS.conform, "--port", str(ARGS.port)], capture_output=True, text=True, timeout=240)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertNotIn("FAIL ", done.stdout)

        width, height = 9, 7
        rows = [[(x * 29 + y * 53 + c * 90) % 256 for x in range(width) for c in range(3)] for y in range(height)]
        with tempfile.TemporaryDirectory() as folder:
            source, output = Path(folder) / "in.png", Path(folder) / "out.png"
            write_png(source, width, height, rows)
            done = subprocess.run([ARGS.host, "render", ARGS.plugin, "--in", str(source), "--out", str(output),
                                   "--set", "Brightness=0.25", "--set", "Enable Effect=on"],
                                  capture_output=True, text=True, timeout=120)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            self.assertIn("processed", done.stdout)
            self.assertEqual(read_png_rgb(output), box_blur(rows, width, height, 1))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--conform", "--host", "--plugin"):
        parser.add_argument(option, required=True)
    parser.add_argument("--port", type=int, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
