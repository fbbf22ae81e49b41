"""Heavy and hostile load at once against a server in its own process: clients on
loopback render small frames and 1080p frames at 8, 16 and 32 bits, poll, watch
progress and abort, while hostile clients announce 1 GiB bodies and send one byte,
stall in their headers or send garbage. Every good request gets its exact result,
every hostile connection is closed by the server, and the server's peak resident
size stays within its memory budget plus the documented allowance."""
import http.client
import os
import random
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import msgpack

from support import PENDING, SERVER_SRC, expected_samples, params

BUDGET = 128 << 20
# What the process may hold besides the budget: interpreter and numpy pages touched
# by the load, the render's per-worker scratch, the pieces being read on every connection.
ALLOWANCE = 64 << 20
STALL = 1.0
DEADLINE = 40.0  # seconds for the whole run; a client past it fails the test
PACK = {8: "B", 16: "H", 32: "f"}
ENDIAN = {8: "=", 16: "=", 32: "<"}


def status_kib(pid, field):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(field + ":"))


class ServerProcess:
    """The reference server in a child process on a free port, logging into a file."""

    def __init__(self, **options):
        self.log = tempfile.NamedTemporaryFile(prefix="tev-load-", suffix=".log", delete=False)
        script = ("import sys, logging\n"
                  f"sys.path.insert(0, {str(SERVER_SRC)!r})\n"
                  f"logging.basicConfig(filename={self.log.name!r}, level=logging.INFO)\n"
                  "from tevserver import Server\n"
                  f"server = Server(port=0, **{options!r})\n"
                  "print(server.address[1], flush=True)\n"
                  "server.serve()\n")
        self.process = subprocess.Popen([sys.executable, "-I", "-c", script], stdout=subprocess.PIPE,
                                        stderr=self.log, stdin=subprocess.DEVNULL)
        self.port = int(self.process.stdout.readline())
        self.address = ("127.0.0.1", self.port)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        os.unlink(self.log.name)


def image(width, height, depth, row_samples):
    """A frame whose rows all hold row_samples (RGB), and its pixel bytes."""
    row = struct.pack(f"{ENDIAN[depth]}{len(row_samples)}{PACK[depth]}", *row_samples)
    return {"TEV_Dict_Type": "Image", "width": width, "height": height, "channels": 3, "bit_depth": depth,
            "pix_aspect_ratio": 1.0, "rowbytes": width * 3 * depth // 8, "downsample": 1.0,
            "pixels_type": "float" if depth == 32 else "uint8", "pixels": row * height}


def expected_pixels(width, height, depth, row_samples, p):
    want = expected_samples(row_samples, 3, depth, p)
    return struct.pack(f"{ENDIAN[depth]}{len(want)}{PACK[depth]}", *want) * height


def row_of(width, depth, rng):
    if depth == 32:  # values a float32 holds exactly, as the server receives them
        return [struct.unpack("<f", struct.pack("<f", rng.uniform(-0.2, 1.3)))[0] for _ in range(width * 3)]
    return [rng.randrange(0, 256 if depth == 8 else 32769) for _ in range(width * 3)]


class Client:
    """A protocol client that, like the plug-in, tries again after a 503 or a refused connection."""

    def __init__(self, address):
        self.address = address
        self.conn = None
        self.retries = 0

    def call(self, message):
        body = msgpack.packb(message, use_bin_type=True)
        while True:
            if time.monotonic() > self.deadline:
                raise AssertionError(f"{message.get('method')}: no answer before the deadline")
            try:
                if self.conn is None:
                    self.conn = http.client.HTTPConnection(*self.address, timeout=30)
                self.conn.request("POST", "/api", body=body)
                response = self.conn.getresponse()
                data = response.read()
                if response.status == 200:
                    return msgpack.unpackb(data)
                if response.status != 503:
                    raise AssertionError(f"HTTP {response.status}: {data[:200]!r}")
            except (ConnectionError, http.client.RemoteDisconnected, BrokenPipeError):
                pass
            self.retries += 1
            self.conn.close()
            self.conn = None
            time.sleep(0.02)

    def render(self, job, img, p):
        return self.call({"method": "call_plugin", "function_name": "render", "request_id": job,
                          "args": {"image": img, "params": p}})

    def result(self, job):
        while (reply := self.call({"method": "get_result", "for_request_id": job})) == PENDING:
            self.call({"method": "get_progress", "for_request_id": job})
            time.sleep(0.005)
        return reply


class LoadTest(unittest.TestCase):
    def test_good_clients_get_exact_results_while_hostile_ones_are_cut_off(self):
        server = ServerProcess(memory_budget=BUDGET, stall=STALL, workers=2, max_connections=32)
        self.addCleanup(server.stop)
        deadline = time.monotonic() + DEADLINE
        failures = []
        retries = []

        def good(index, frames):
            rng = random.Random(index)
            client = Client(server.address)
            client.deadline = deadline
            try:
                for n, (width, height, depth) in enumerate(frames):
                    job = f"g{index}-{n}"
                    row = row_of(width, depth, rng)
                    p = params(brightness=rng.uniform(0.5, 1.5), contrast=rng.uniform(0.5, 1.5),
                               saturation=rng.uniform(0, 2), type=rng.choice((1, 3, 4)))
                    self.assertEqual(client.render(job, image(width, height, depth, row), p), {"status": "queued"})
                    if n % 3 == 2:  # given up: nothing of it may come back
                        self.assertIn("aborted", client.call({"method": "abort_request", "request_id": job})["result"])
                        self.assertIn("error", client.call({"method": "get_result", "for_request_id": job}))
                        continue
                    got = client.result(job)["result"]["result"]["image"]["pixels"]
                    if got != expected_pixels(width, height, depth, row, p):
                        failures.append(f"{job}: {width}x{height} at {depth} bits differs")
            except Exception as e:
                failures.append(f"client {index}: {e!r}")
            finally:
                retries.append(client.retries)
                if client.conn:
                    client.conn.close()

        cut_off = []

        def hostile(head, expect):
            try:
                with socket.create_connection(server.address, timeout=STALL * 8) as sock:
                    sock.sendall(head)
                    data = b""
                    while chunk := sock.recv(65536):
                        data += chunk
                    cut_off.append(data.startswith(expect))
            except OSError as e:
                failures.append(f"hostile {head[:30]!r}: {e!r}")

        start_rss = status_kib(server.process.pid, "VmRSS") << 10
        hd = [(1920, 1080, 8), (1920, 1080, 16), (1920, 1080, 32)]
        hd = hd + hd[::-1]
        small = [(64, 16, 8), (33, 7, 16), (16, 16, 32)] * 5
        threads = [threading.Thread(target=good, args=(i, hd if i < 4 else small)) for i in range(10)]
        heads = [(b"POST /api HTTP/1.1\r\nContent-Length: 1073741824\r\n\r\nx", b"")] * 6 + [
            (b"POST /api HTTP/1.1\r\nContent-Le", b""),
            (b"POST /api HTTP/1.1\r\nContent-Length: 30000000\r\n\r\n" + b"\x00" * 5_000_000, b""),
            (b"NONSENSE\r\n\r\n", b"HTTP/1.1 400 "),
            (b"POST /api HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 7\r\n\r\n", b"HTTP/1.1 400 "),
        ]
        threads += [threading.Thread(target=hostile, args=h) for h in heads]
        for t in threads:
            t.start()
        for t in threads:
            t.join(DEADLINE + 10)
        peak = status_kib(server.process.pid, "VmHWM") << 10

        self.assertEqual(failures, [])
        self.assertEqual(cut_off, [True] * len(heads))
        print(f"\nload: peak RSS {peak >> 20} MiB (start {start_rss >> 20} MiB, budget {BUDGET >> 20} MiB), "
              f"{sum(retries)} retries after 503", file=sys.stderr)
        self.assertLess(peak, start_rss + BUDGET + ALLOWANCE)
        self.assertIsNone(server.process.poll())


if __name__ == "__main__":
    unittest.main()
