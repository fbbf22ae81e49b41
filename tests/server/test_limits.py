"""The server's limits: bodies read as they arrive and charged to the memory budget,
503 past the budget or the connection limit, stalled connections closed, and every
byte a job or result held given back."""
import socket
import time
import unittest

import msgpack

from support import (ApiClient, RenderOptions, expected_samples, image, params, samples_of,
                     start_server, wait_for)

ADJUSTED = params(brightness=1.2, contrast=0.9, saturation=1.1)
SAMPLES = [(i * 31) % 256 for i in range(16 * 16 * 3)]


def hostile(address, head):
    """A connection that sent head and nothing more."""
    sock = socket.create_connection(address, timeout=5)
    sock.sendall(head)
    return sock


def read_until_closed(sock, timeout):
    """Everything the server sent before it closed the connection; fails after timeout."""
    sock.settimeout(timeout)
    data = b""
    while chunk := sock.recv(65536):
        data += chunk
    return data


def resident_bytes():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmRSS:"))


class BodyTest(unittest.TestCase):
    def test_an_announced_length_is_not_allocated_and_a_stalled_body_is_cut_off(self):
        server = start_server(self, stall=0.5)
        head = b"POST /api HTTP/1.1\r\nContent-Length: 1073741824\r\n\r\nx"
        before = resident_bytes()
        socks = [hostile(server.address, head) for _ in range(3)]
        try:
            # One byte each arrived; each waits with at most one piece charged for the next read.
            self.assertTrue(wait_for(lambda: server.budget.held >= 3 * 256 * 1024))
            self.assertLessEqual(server.budget.held, 3 * (1 + 256 * 1024))
            self.assertLess(resident_bytes() - before, 32 << 20)
            started = time.monotonic()
            for sock in socks:
                self.assertEqual(read_until_closed(sock, 5), b"")  # closed without a reply
            self.assertLess(time.monotonic() - started, 4)
        finally:
            for sock in socks:
                sock.close()
        self.assertTrue(wait_for(lambda: server.budget.held == 0))

    def test_stalled_request_lines_and_headers_are_cut_off_but_idle_connections_wait(self):
        server = start_server(self, stall=0.3, keepalive=5)
        for head in (b"POST /api HT", b"POST /api HTTP/1.1\r\nContent-Le"):
            with self.subTest(head=head), hostile(server.address, head) as sock:
                self.assertEqual(read_until_closed(sock, 3), b"")
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        client.call("open_tev_app")
        time.sleep(0.8)  # silent between requests: longer than the stall time is fine
        self.assertEqual(client.call("open_tev_app"), {"result": {"ok": True}})

    def test_a_body_past_the_budget_is_answered_503_and_the_server_goes_on(self):
        server = start_server(self, memory_budget=3 << 20)
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        status, reply = client.post(b"\x00" * (4 << 20))
        self.assertEqual(status, 503)
        self.assertIn("server memory budget full: a 4194304-byte request body", reply["error"])
        self.assertIn("of 3145728 are held", reply["error"])
        self.assertTrue(wait_for(lambda: server.budget.held == 0))
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        client.render("small", image(16, 16, 3, 8, SAMPLES), ADJUSTED)
        self.assertEqual(samples_of(client.wait_result("small")["result"]["result"]["image"]),
                         expected_samples(SAMPLES, 3, 8, ADJUSTED))

    def test_a_job_past_the_budget_is_refused_until_a_result_is_collected(self):
        # A 700x500 RGB float frame is 4.2 MB: its body, decoded copy and job fit 16 MB,
        # a second job beside the first one's result and input does not.
        server = start_server(self, memory_budget=16 << 20)
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        frame = image(700, 500, 3, 32, [0.25] * (700 * 500 * 3))
        self.assertEqual(client.render("first", frame, ADJUSTED), {"status": "queued"})
        self.assertTrue(wait_for(lambda: client.call("get_progress", for_request_id="first")
                                 ["result"]["progress"] == 100))
        body = msgpack.packb({"method": "call_plugin", "function_name": "render", "request_id": "second",
                              "args": {"image": frame, "params": ADJUSTED}})
        status, reply = client.post(body)
        self.assertEqual(status, 503)
        self.assertIn("server memory budget full", reply["error"])
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        self.assertIn("image", client.wait_result("first")["result"]["result"])
        self.assertEqual(client.render("second", frame, ADJUSTED), {"status": "queued"})
        self.assertIn("image", client.wait_result("second")["result"]["result"])
        # What is left is kept for the next frame, and given up when a request needs the room.
        self.assertTrue(wait_for(lambda: server.budget.held == server.pool.pooled_bytes > 0))
        status, reply = client.post(msgpack.packb({"method": "open_tev_app", "pad": b"\0" * (15 << 20)}))
        self.assertEqual((status, reply), (200, {"result": {"ok": True}}))
        self.assertTrue(wait_for(lambda: server.budget.held == server.pool.pooled_bytes))
        self.assertLess(server.pool.pooled_bytes, 2 << 20)


class FramePoolTest(unittest.TestCase):
    def test_frames_of_one_size_reuse_buffers_and_come_back_exact(self):
        server = start_server(self)
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        lent = []
        real = server.pool.lend_pooled

        def counting(nbytes):
            got = real(nbytes)
            lent.append(got is not None)
            return got
        server.pool.lend_pooled = counting
        width, height = 700, 500
        for n in range(4):
            samples = [(i * 7 + n) % 256 for i in range(width * 3)]
            img = image(width, height, 3, 8, samples * height)
            client.render(f"f{n}", img, ADJUSTED)
            got = samples_of(client.wait_result(f"f{n}")["result"]["result"]["image"])
            self.assertEqual(got, expected_samples(samples, 3, 8, ADJUSTED) * height)
        self.assertTrue(any(lent[2:]), lent)  # later bodies and outputs land in kept buffers


class HeldBytesTest(unittest.TestCase):
    """Each way a job ends gives its bytes back."""

    def test_aborted_expired_failed_and_collected_jobs_hold_nothing(self):
        server = start_server(self, result_ttl=0.2, workers=1,
                              render_options=RenderOptions(block_samples=48, block_pause=0.02))
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        frame = image(16, 16, 3, 8, SAMPLES)
        for job in ("running", "queued", "expires", "collected"):
            client.render(job, frame, ADJUSTED)
        # (A request's own bytes are given back just after its reply.)
        self.assertTrue(wait_for(lambda: server.budget.held == 4 * 2 * len(frame["pixels"])))
        client.call("abort_request", request_id="running")
        client.call("abort_request", request_id="queued")
        self.assertIn("image", client.wait_result("collected")["result"]["result"])
        time.sleep(0.3)
        client.call("get_progress", for_request_id="nobody")
        client.render("bad", dict(frame, pixels=b"\x00" * 10), ADJUSTED)  # refused before queueing
        client.call("get_result", for_request_id="expires")  # expired by now, and dropped
        self.assertTrue(wait_for(lambda: server.budget.held == 0), server.budget.held)


class ConnectionLimitTest(unittest.TestCase):
    def test_connections_past_the_limit_are_answered_503_and_closed(self):
        server = start_server(self, max_connections=2)
        first, second = ApiClient(server.address), ApiClient(server.address)
        self.addCleanup(first.close)
        self.addCleanup(second.close)
        first.call("open_tev_app")
        second.call("open_tev_app")
        with socket.create_connection(server.address, timeout=5) as sock:
            data = read_until_closed(sock, 5)
        head, _, body = data.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 503 "), head)
        self.assertIn("2 connections are open", msgpack.unpackb(body)["error"])
        second.close()
        third = ApiClient(server.address)
        self.addCleanup(third.close)

        def third_is_served():
            try:
                return third.call("open_tev_app") == {"result": {"ok": True}}
            except (OSError, AssertionError):
                third.close()
                return False
        self.assertTrue(wait_for(third_is_served))


if __name__ == "__main__":
    unittest.main()
