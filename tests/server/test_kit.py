"""The kit's own guarantees: a body is rendered only when complete, a pooled buffer is
lent again only after its release, the budget charges what a body holds, blocks on
several threads give the single-threaded result, a frame is split over threads only
while that pays, a Processing's declarations and refusals reach the client."""
import socket
import threading
import time
import tracemalloc
import unittest

import msgpack
import numpy as np

from support import (ApiClient, RenderOptions, image, params, samples_of, start_server, wait_for)
from tevserver import Processing, RequestError
from tevserver.budget import MemoryBudget
from tevserver.image import Frame
from tevserver.mapped import mapped_bytes
from tevserver.pool import HEADROOM, FramePool
from tevserver.render import Renderer
from tevserver.split import RETRY, TRIALS

ADJUSTED = params(brightness=1.2, contrast=0.9, saturation=1.1)


def render_body(job_id, frame):
    return msgpack.packb({"method": "call_plugin", "function_name": "render", "request_id": job_id,
                          "args": {"image": frame, "params": ADJUSTED}})


def send_all_but(address, body, unsent):
    """A connection that sent the POST of body except its last unsent bytes."""
    sock = socket.create_connection(address, timeout=5)
    sock.sendall(b"POST /api HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % len(body)
                 + body[:len(body) - unsent])
    return sock


class BodyTest(unittest.TestCase):
    def test_a_body_that_stalls_near_its_end_is_never_rendered(self):
        server = start_server(self, stall=0.3)
        body = render_body("stalled", image(64, 64, 3, 8, [200] * (64 * 64 * 3)))
        with send_all_but(server.address, body, 1000) as sock:
            sock.settimeout(5)
            self.assertEqual(sock.recv(100), b"")  # closed after the stall, unanswered
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        self.assertIn("no job", client.call("get_progress", for_request_id="stalled")["error"])
        self.assertTrue(wait_for(lambda: server.budget.held == 0))

    def test_the_budget_charges_what_a_growing_body_holds(self):
        tracemalloc.start(40)
        self.addCleanup(tracemalloc.stop)
        server = start_server(self, stall=5)
        body = render_body("big", image(1024, 1024, 3, 8, [7] * (1024 * 1024 * 3)))
        arrived = 9 * 256 * 1024 + 100
        mapped_before = mapped_bytes()
        with send_all_but(server.address, body, len(body) - arrived):
            self.assertTrue(wait_for(lambda: server.budget.held >= arrived))
            snapshot = tracemalloc.take_snapshot()
            mapped = mapped_bytes() - mapped_before
            held = server.budget.held
        reader = snapshot.filter_traces([tracemalloc.Filter(True, "*http_front.py", all_frames=True)])
        traced = sum(s.size for s in reader.statistics("filename"))
        self.assertGreaterEqual(mapped, arrived)  # the body's buffer, a mapping of its own
        self.assertLessEqual(traced + mapped, held + 32 * 1024)  # and the connection's few objects


class StopTest(unittest.TestCase):
    def test_a_stop_signal_that_interrupts_the_servers_own_lock_still_stops_it(self):
        # A handler runs on the thread it interrupts; if that thread is inside
        # the server's stop event (a first signal's stop), taking the event's
        # lock again would hang the process for good.
        server = start_server(self, idle_timeout=0)

        def interrupted_inside_the_event():
            with server._exit._cond:
                server.stop_on_signal("signal 15")

        handler = threading.Thread(target=interrupted_inside_the_event, daemon=True)
        handler.start()
        handler.join(5)
        self.assertFalse(handler.is_alive(), "the signal handler waited on a lock")
        self.assertTrue(server.wait(5))
        self.assertEqual(server.exit_reason, "signal 15")


class FramePoolTest(unittest.TestCase):
    def test_a_buffer_is_lent_again_only_after_its_release_and_its_headroom_is_charged(self):
        budget = MemoryBudget(64 << 20)
        pool = FramePool(budget)
        n = 2 << 20
        loan = pool.lend(n)
        self.assertEqual(budget.held, HEADROOM)  # the borrower charges n, the pool the rest
        address = loan.array.ctypes.data
        loan.hold()      # a second holder: a job keeps the frame the body holds
        loan.release()   # the reply is sent; the job still holds it
        self.assertIsNone(pool.lend_pooled(n))
        loan.release()   # the job ended
        self.assertEqual(budget.held, n + HEADROOM)  # kept whole
        again = pool.lend_pooled(n)
        self.assertEqual(again.array.ctypes.data, address)
        self.assertRaises(RuntimeError, loan.release)
        again.release()
        self.assertTrue(pool.reclaim())
        self.assertEqual(budget.held, 0)


class Stripes(Processing):
    """Half of every sample plus its row's index; takes 8-bit RGB only."""
    name = "stripes"
    depths = (8,)
    channels = (3,)

    def check(self, params):
        if params.get("brightness", 0) > 1.5:
            raise RequestError("stripes: brightness above 1.5 is not served;\n" + "stripes are " * 20)
        return params

    def rows(self, src, dst, top, bottom, params, bit_depth):
        dst[top:bottom] = src[top:bottom] // 2 + np.arange(top, bottom, dtype=np.uint8)[:, None, None]


class HalfRows(Processing):
    """Writes the first half of each block's rows (a faulty processing) and leaves the rest."""
    name = "half rows"

    def rows(self, src, dst, top, bottom, params, bit_depth):
        middle = (top + bottom) // 2
        dst[top:middle] = src[top:middle] + 1


class ProcessingTest(unittest.TestCase):
    def test_samples_a_processing_leaves_are_zero_never_an_earlier_frame(self):
        server = start_server(self, process=HalfRows(), threads=1,
                              render_options=RenderOptions(block_samples=700 * 3 * 10))
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        written = np.zeros(500, bool)
        for top in range(0, 500, 10):
            written[top:top + 5] = True
        for n in range(5):  # bodies and outputs go round the pool's buffers
            frame = image(700, 500, 3, 8, [40 * n + 10] * (700 * 500 * 3))  # 1 MB: pooled buffers
            client.render(f"f{n}", frame, ADJUSTED)
            out = client.wait_result(f"f{n}")["result"]["result"]["image"]["pixels"]
            rows = np.frombuffer(out, np.uint8).reshape(500, -1)
            self.assertTrue((rows[written] == 40 * n + 11).all(), n)
            self.assertTrue((rows[~written] == 0).all(), f"frame {n}: unwritten samples are not zero")


    def test_declared_depths_channels_and_refusals_reach_the_client(self):
        server = start_server(self, process=Stripes())
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        cases = [(image(4, 4, 4, 8, [0] * 64), ADJUSTED, "stripes takes frames of 3 channels, not 4"),
                 (image(4, 4, 3, 16, [0] * 48), ADJUSTED, "stripes takes 8-bit frames, not 16-bit"),
                 (image(4, 4, 3, 8, [0] * 48), params(brightness=2.0), "stripes: brightness above 1.5")]
        for frame, p, text in cases:
            error = client.render("refused", frame, p)["error"]
            self.assertIn(text, error)
            self.assertLessEqual(len(error), 94)
        self.assertNotIn("\n", error)
        client.render("served", image(4, 9, 3, 8, [10] * 108), ADJUSTED)
        got = samples_of(client.wait_result("served")["result"]["result"]["image"])
        self.assertEqual(got, [5 + r for r in range(9) for _ in range(12)])

    def test_blocks_on_two_threads_give_the_single_threaded_result_exactly(self):
        rng = np.random.default_rng(7)
        frames = {8: rng.integers(0, 256, 300 * 97 * 4), 16: rng.integers(0, 65536, 300 * 97 * 4),
                  32: np.concatenate([rng.normal(0.5, 2, 300 * 97 * 4 - 3), [np.inf, -np.inf, np.nan]])}
        results = {}
        for threads in (1, 2):
            server = start_server(self, threads=threads,
                                  render_options=RenderOptions(block_samples=97 * 4 * 7, split_samples=1))
            client = ApiClient(server.address)
            self.addCleanup(client.close)
            for depth, samples in frames.items():
                client.render(f"t{depth}", image(97, 300, 4, depth, samples.tolist()), ADJUSTED)
                results.setdefault(depth, []).append(
                    client.wait_result(f"t{depth}")["result"]["result"]["image"]["pixels"])
        for depth, (one, two) in results.items():
            self.assertEqual(one, two, f"{depth}-bit")


class Sleeper(Processing):
    """Each block sleeps. Where splitting does not pay, blocks wait for each other and
    those on the pool's threads sleep three times as long. Notes the threads that each
    frame's blocks ran on."""

    def __init__(self, split_pays, block_seconds=0.01):
        self.lock = None if split_pays else threading.Lock()
        self.block_seconds = block_seconds
        self.threads = {}  # frame tag -> thread idents of its blocks
        self.on_pool = {}  # frame tag -> its blocks begun on the pool's threads

    def rows(self, src, dst, top, bottom, params, bit_depth):
        tag, on_pool = params["tag"], threading.current_thread().name.startswith("tev-rows")
        self.threads.setdefault(tag, set()).add(threading.get_ident())
        self.on_pool[tag] = self.on_pool.get(tag, 0) + on_pool
        if self.lock is None:
            time.sleep(self.block_seconds)
        else:
            with self.lock:
                time.sleep(self.block_seconds * (3 if on_pool else 1))


class _Job:
    def report(self, percent): pass
    def check_abort(self): pass
    def keep(self, loan): return loan


class SplitTest(unittest.TestCase):
    FRAME = Frame(8, 6, 1, 8, 1.0, 8, 1.0, bytes(48))  # six blocks of one row

    def threads_per_frame(self, processing, frames):
        renderer = Renderer(processing, RenderOptions(threads=2, block_samples=8, split_samples=1))
        self.addCleanup(renderer.close)
        for tag in range(frames):
            renderer.run(self.FRAME, {"tag": tag}, _Job())
        return [len(processing.threads[tag]) for tag in range(frames)]

    def test_the_split_is_kept_only_while_it_saves_wall_time(self):
        measured = 1 + 2 * TRIALS  # the first frame of a kind is not counted
        for split_pays, settled in ((False, 1), (True, 2)):
            counts = self.threads_per_frame(Sleeper(split_pays), RETRY + 2)
            self.assertEqual(counts[:measured], [2] + [2, 1] * TRIALS)  # the trials alternate, the split first
            want = [settled] * (RETRY + 2 - measured)
            want[RETRY - 1 - measured] = 3 - settled  # the choice not taken is tried again
            self.assertEqual(counts[measured:], want, f"split pays: {split_pays}")

    def test_a_render_that_fails_leaves_the_threads_to_the_next(self):
        class FailsOnce(Sleeper):
            def rows(self, src, dst, top, bottom, params, bit_depth):
                if params["tag"] == "fails":
                    raise ValueError("broken block")
                super().rows(src, dst, top, bottom, params, bit_depth)

        processing = FailsOnce(split_pays=True)
        renderer = Renderer(processing, RenderOptions(threads=2, block_samples=8, split_samples=1))
        self.addCleanup(renderer.close)
        with self.assertRaises(ValueError):
            renderer.run(self.FRAME, {"tag": "fails"}, _Job())
        renderer.run(self.FRAME, {"tag": "after"}, _Job())
        self.assertEqual(len(processing.threads["after"]), 2)  # not counted as running beside the failed one

    def test_renders_at_once_share_the_threads(self):
        processing = Sleeper(split_pays=True, block_seconds=0.1)
        renderer = Renderer(processing, RenderOptions(threads=2, block_samples=8, split_samples=1))
        self.addCleanup(renderer.close)
        first = threading.Thread(target=renderer.run, args=(self.FRAME, {"tag": "first"}, _Job()))
        first.start()
        self.assertTrue(wait_for(lambda: len(processing.threads.get("first", ())) == 2))  # split
        renderer.run(self.FRAME, {"tag": "second"}, _Job())
        first.join()
        self.assertEqual(len(processing.threads["second"]), 1)
        self.assertEqual(processing.on_pool["first"], 1)  # the pool's thread left it once the second began


if __name__ == "__main__":
    unittest.main()
