"""The queued-job protocol: queued -> pending -> result, progress, abort, several
clients and jobs at once, the one-shot methods, keep-alive and the idle exit."""
import threading
import time
import unittest

from support import (PENDING, ApiClient, RenderOptions, expected_samples, image, params,
                     samples_of, start_server, wait_for)
from tevserver import Processing

ADJUSTED = params(brightness=1.1, contrast=0.9, saturation=1.2)
# 4 rows of 8 pixels, one row per block: a slow render has several progress steps.
SLOW_SAMPLES = [(i * 29) % 256 for i in range(8 * 4 * 3)]
SLOW_OPTIONS = RenderOptions(threads=1, block_samples=24, block_pause=0.15)


def slow_image():
    return image(8, 4, 3, 8, SLOW_SAMPLES)


class JobProtocolTest(unittest.TestCase):
    def setUp(self):
        self.server = start_server(self, render_options=SLOW_OPTIONS, workers=2)
        self.client = ApiClient(self.server.address)
        self.addCleanup(self.client.close)

    def test_render_is_queued_pending_then_delivered_once(self):
        self.assertEqual(self.client.render("job-a", slow_image(), ADJUSTED), {"status": "queued"})
        self.assertEqual(self.client.call("get_result", for_request_id="job-a"), PENDING)
        reply = self.client.wait_result("job-a")
        self.assertEqual(samples_of(reply["result"]["result"]["image"]),
                         expected_samples(SLOW_SAMPLES, 3, 8, ADJUSTED))
        again = self.client.call("get_result", for_request_id="job-a")
        self.assertIn("job-a", again["error"])

    def test_progress_is_an_int_percentage_that_rises_to_100(self):
        self.client.render("job-p", slow_image(), ADJUSTED)
        seen = []
        while True:
            reply = self.client.call("get_progress", for_request_id="job-p")
            seen.append(reply["result"]["progress"])
            if seen[-1] == 100:
                break
            time.sleep(0.02)
        self.assertTrue(all(type(p) is int for p in seen))
        self.assertEqual(seen, sorted(seen))
        self.assertTrue(any(0 < p < 100 for p in seen), seen)
        self.assertNotEqual(self.client.wait_result("job-p"), PENDING)

    def test_abort_stops_the_job_and_drops_its_result(self):
        with self.assertLogs("tevserver.jobs", "INFO") as logs:
            self.client.render("job-x", slow_image(), ADJUSTED)
            while self.client.call("get_progress", for_request_id="job-x")["result"]["progress"] == 0:
                time.sleep(0.01)
            # The client's abort message carries the job's own id as "request_id".
            self.assertEqual(self.client.call("abort_request", request_id="job-x"),
                             {"result": {"aborted": True}})
            self.assertIn("job-x", self.client.call("get_result", for_request_id="job-x")["error"])
            self.assertEqual(self.client.call("abort_request", request_id="job-x"),
                             {"result": {"aborted": False}})
            self.client.render("job-y", slow_image(), ADJUSTED)
            self.assertIn("result", self.client.wait_result("job-y"))
        stopped = [line for line in logs.output if "job-x stopped at" in line]
        self.assertEqual(len(stopped), 1, logs.output)
        self.assertNotIn("stopped at 100%", stopped[0])
        self.assertFalse(any("job job-x done" in line for line in logs.output))

    def test_a_job_aborted_while_queued_never_runs(self):
        for job in ("q1", "q2", "q3"):  # two workers: q3 waits in the queue
            self.client.render(job, slow_image(), ADJUSTED)
        self.client.call("abort_request", request_id="q3")
        for job in ("q1", "q2"):
            self.assertIn("result", self.client.wait_result(job))
        self.assertIn("error", self.client.call("get_progress", for_request_id="q3"))

    def test_a_repeated_call_does_not_queue_the_job_twice(self):
        self.client.render("dup", slow_image(), ADJUSTED)
        self.assertEqual(self.client.render("dup", slow_image(), ADJUSTED), {"status": "queued"})
        self.assertIn("result", self.client.wait_result("dup"))
        self.assertIn("error", self.client.call("get_result", for_request_id="dup"))

    def test_several_clients_with_several_jobs_all_get_their_own_frames(self):
        failures = []
        server = start_server(self, render_options=RenderOptions(block_samples=24, block_pause=0.01))

        def client_thread(index):
            client = ApiClient(server.address)
            try:
                for n in range(3):
                    samples = [(index * 50 + n * 7 + i) % 256 for i in range(8 * 4 * 3)]
                    p = params(brightness=1.0 + index / 10, contrast=1.0 + n / 10, saturation=0.5)
                    job = f"c{index}-{n}"
                    client.render(job, image(8, 4, 3, 8, samples), p)
                    got = samples_of(client.wait_result(job)["result"]["result"]["image"])
                    if got != expected_samples(samples, 3, 8, p):
                        failures.append(job)
            except Exception as e:
                failures.append(f"client {index}: {e!r}")
            finally:
                client.close()

        threads = [threading.Thread(target=client_thread, args=(i,)) for i in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(30)
        self.assertEqual(failures, [])


class Gated(Processing):
    """Copies the frame once the test opens its gate."""
    name = "gated"

    def __init__(self):
        self.gate = threading.Event()

    def rows(self, src, dst, top, bottom, params, bit_depth):
        self.gate.wait(30)
        dst[top:bottom] = src[top:bottom]


class PromptResultTest(unittest.TestCase):
    def setUp(self):
        self.gated = Gated()
        self.server = start_server(self, process=self.gated, workers=1, poll_hold=30.0)
        self.client = ApiClient(self.server.address, timeout=20)
        self.addCleanup(self.client.close)
        self.addCleanup(self.gated.gate.set)

    def test_a_poll_for_the_only_job_is_answered_when_it_ends(self):
        board, asked = self.server._board, threading.Event()
        real = board.take_result
        board.take_result = lambda *args: (asked.set(), real(*args))[1]
        self.client.render("only", slow_image(), ADJUSTED)
        replies = []
        poll = threading.Thread(target=lambda: replies.append(self.client.call("get_result", for_request_id="only")))
        poll.start()
        self.assertTrue(asked.wait(10))
        self.gated.gate.set()  # the job ends while its poll waits
        poll.join(20)
        self.assertEqual(samples_of(replies[0]["result"]["result"]["image"]), SLOW_SAMPLES)

    def test_with_other_jobs_on_the_board_a_poll_answers_pending_at_once(self):
        self.client.render("first", slow_image(), ADJUSTED)
        self.client.render("second", slow_image(), ADJUSTED)  # queued behind it: one worker
        self.assertEqual(self.client.call("get_result", for_request_id="first"), PENDING)
        self.assertEqual(self.client.call("get_result", for_request_id="second"), PENDING)
        self.gated.gate.set()
        self.assertIn("image", self.client.wait_result("first")["result"]["result"])


class JobLimitsTest(unittest.TestCase):
    def test_a_failing_render_reports_its_error_and_the_worker_goes_on(self):
        import tevserver.adjust as render
        server = start_server(self, workers=1)
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        real = render.adjust_block
        calls = []

        def fail_once(*args):
            calls.append(1)
            if len(calls) == 1:
                raise MemoryError()  # no message of its own
            return real(*args)

        render.adjust_block = fail_once
        self.addCleanup(setattr, render, "adjust_block", real)
        with self.assertLogs("tevserver", "INFO") as logs:
            client.render("bad", slow_image(), ADJUSTED)
            reply = client.wait_result("bad")
        self.assertEqual(reply, {"result": {"error": "render failed: MemoryError (raised without a message)"}})
        about_bad = [r for r in logs.records if "bad" in r.getMessage() and r.name == "tevserver.jobs"]
        self.assertEqual([(r.levelname, r.getMessage()) for r in about_bad],
                         [("ERROR", "job bad failed: MemoryError (raised without a message)")])
        self.assertIsNone(about_bad[0].exc_info)  # no traceback unless debug lines are on
        self.assertTrue(wait_for(lambda: server.budget.held == 0))
        client.render("good", slow_image(), ADJUSTED)
        self.assertIn("image", client.wait_result("good")["result"]["result"])

    def test_with_debug_lines_on_a_failure_logs_its_traceback(self):
        import tevserver.adjust as render
        server = start_server(self, workers=1)
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        real = render.adjust_block
        render.adjust_block = lambda *args: 1 / 0
        self.addCleanup(setattr, render, "adjust_block", real)
        with self.assertLogs("tevserver.jobs", "DEBUG") as logs:
            client.render("traced", slow_image(), ADJUSTED)
            self.assertIn("ZeroDivisionError: division by zero", client.wait_result("traced")["result"]["error"])
        # (A worker of an earlier test's server may still be finishing a block: only this job counts.)
        traced = [r for r in logs.records if r.exc_info and "traced" in r.getMessage()]
        self.assertEqual(len(traced), 1)
        self.assertEqual(traced[0].levelname, "DEBUG")

    def test_too_many_jobs_are_refused_and_uncollected_results_expire(self):
        server = start_server(self, max_jobs=1, result_ttl=0.2,
                              render_options=RenderOptions(block_samples=24, block_pause=0.05))
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        client.render("first", slow_image(), ADJUSTED)
        self.assertIn("busy", client.render("second", slow_image(), ADJUSTED)["error"])
        while client.call("get_progress", for_request_id="first")["result"]["progress"] < 100:
            time.sleep(0.02)
        time.sleep(0.3)
        self.assertEqual(client.render("third", slow_image(), ADJUSTED), {"status": "queued"})
        self.assertIn("error", client.call("get_result", for_request_id="first"))  # dropped


class OneShotMethodsTest(unittest.TestCase):
    def setUp(self):
        self.server = start_server(self)
        self.client = ApiClient(self.server.address)
        self.addCleanup(self.client.close)

    def test_parameter_reports_are_answered_at_once(self):
        reply = self.client.call("call_plugin", method_version=1, function_name="user_changed_param",
                                 args={"instance_id": "instance-1", "param_id": 3})
        self.assertEqual(reply, {"result": {"ok": True}})

    def test_ui_unload_and_open_app_answer(self):
        self.assertIn("'settings'", self.client.call("ui", function_name="settings", args={})["error"])
        self.assertEqual(self.client.call("unload_plugin"), {"result": {"ok": True}})
        self.assertEqual(self.client.call("open_tev_app"), {"result": {"ok": True}})

    def test_requests_share_one_keep_alive_connection(self):
        self.client.call("open_tev_app")
        sock = self.client.conn.sock
        self.assertIsNotNone(sock)
        for _ in range(5):
            self.client.call("get_progress", for_request_id="none")  # an error reply keeps it too
        self.assertIs(self.client.conn.sock, sock)


class IdleExitTest(unittest.TestCase):
    def test_exits_after_the_idle_time(self):
        server = start_server(self, idle_timeout=0.3)
        self.assertTrue(server.wait(5))
        self.assertIn("no request", server.exit_reason)
        with self.assertRaises(OSError):
            ApiClient(server.address, timeout=2).call("open_tev_app")

    def test_requests_and_running_jobs_keep_it_alive(self):
        server = start_server(self, idle_timeout=0.4,
                              render_options=RenderOptions(threads=1, block_samples=24, block_pause=0.3))
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        client.render("long", slow_image(), ADJUSTED)  # about 1.2 s without a request
        self.assertFalse(server.wait(1.0))
        self.assertIn("result", client.wait_result("long"))
        self.assertTrue(server.wait(5))


if __name__ == "__main__":
    unittest.main()
