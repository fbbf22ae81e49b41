"""The server as one object: listener, workers and the idle watchdog.

    server = Server(port=0, idle_timeout=2.0)   # binds at once; port 0 picks a free one
    Server(port=8000, process=MyProcessing())   # any Processing (processing.py); the
                                                # adjustment (adjust.py) by default
    server.start()                              # serves on background threads
    server.address                              # ("127.0.0.1", port)
    server.stop()                               # or let it exit when idle
    server.serve()                              # start() and block until it has exited

It exits by itself once no request has come for idle_timeout seconds and no
job is waiting or running; an idle_timeout of 0 (a node service) never does. Every limit is a keyword with its default in settings.
"""
import dataclasses
from dataclasses import dataclass
import logging
import os
import threading

from . import settings
from .budget import MemoryBudget
from .pool import FramePool
from .http_front import ApiHTTPServer
from .adjust import ADJUSTMENT
from .jobs import JobBoard
from .processing import Processing
from .protocol import Protocol
from .render import RenderOptions, Renderer

log = logging.getLogger("tevserver")

# How soon the watchdog acts on a stop signal.
_SIGNAL_LATENCY = 0.2


@dataclass(frozen=True)
class Limits:
    """What the HTTP front allows one connection and all of them together."""
    max_body: int
    keepalive: float
    stall: float
    max_connections: int


class Server:
    def __init__(self, port, host=settings.HOST, idle_timeout=settings.IDLE_TIMEOUT_SECONDS,
                 process=ADJUSTMENT, threads=None, workers=None, render_options=RenderOptions(),
                 max_jobs=settings.MAX_JOBS,
                 result_ttl=settings.RESULT_TTL_SECONDS, max_body=settings.MAX_BODY_BYTES,
                 memory_budget=settings.MEMORY_BUDGET_BYTES, max_connections=settings.MAX_CONNECTIONS,
                 stall=settings.STALL_SECONDS, keepalive=settings.KEEPALIVE_SECONDS,
                 poll_hold=settings.POLL_HOLD_SECONDS):
        """Binds host:port at once (OSError when taken); start() or serve() runs it.
        process: the Processing of every render. threads: threads that run a frame's
        blocks of rows (default render_options.threads: one per core). workers: jobs
        run at once."""
        if not isinstance(process, Processing):
            raise TypeError(f"Server(process=...) takes a tevserver.Processing, not {type(process).__name__}")
        self._idle_timeout = idle_timeout
        self.budget = MemoryBudget(memory_budget)
        self.pool = FramePool(self.budget)
        self.budget.reclaim = self.pool.reclaim
        if threads is not None:
            render_options = dataclasses.replace(render_options, threads=threads)
        self.renderer = Renderer(process, render_options, self.pool.lend)
        self._board = JobBoard(workers or max(2, os.cpu_count() or 2), max_jobs, result_ttl, self.budget)
        try:
            self._httpd = ApiHTTPServer((host, port), Protocol(self._board, self.renderer, poll_hold),
                                        self.budget, self.pool, Limits(max_body, keepalive, stall, max_connections))
        except BaseException:
            self._board.close()
            self.renderer.close()
            raise
        self._exit = threading.Event()
        self._closed = threading.Event()
        self._signalled = None  # set by stop_on_signal, seen by the watchdog
        self._threads = []
        self.exit_reason = None

    @property
    def address(self):
        return self._httpd.server_address[:2]

    def start(self):
        http = threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.2},
                                name="tev-http", daemon=True)
        watchdog = threading.Thread(target=self._watch, name="tev-watchdog", daemon=True)
        self._threads = [http, watchdog]
        for t in self._threads:
            t.start()
        idle = f"idle exit after {self._idle_timeout:g} s" if self._idle_timeout else "no idle exit"
        log.info("listening on %s:%d (pid %d), %s on %d thread(s), %s, memory budget %d MiB",
                 *self.address, os.getpid(), self.renderer.processing.name,
                 self.renderer.options.thread_count(), idle, self.budget.cap >> 20)

    def request_stop(self, reason="stop requested"):
        """Asks the server to exit; safe from any thread, not from a signal handler."""
        if self.exit_reason is None:
            self.exit_reason = reason
        self._exit.set()

    def stop_on_signal(self, reason):
        """Asks the server to exit from a signal handler: sets a flag the
        watchdog reads within a fraction of a second. It takes no lock, since
        the handler runs on the main thread wherever it was interrupted, which
        may be inside one of the server's events (a second signal arriving
        while the first one's stop holds a lock would hang the process)."""
        if self._signalled is None:
            self._signalled = reason

    def stop(self, timeout=10.0):
        self.request_stop()
        if not self._threads:  # never started: nothing runs that would close it
            self._board.close()
            self.renderer.close()
            self._httpd.server_close()
            self._closed.set()
        return self.wait(timeout)

    def wait(self, timeout=None):
        """True once the server has exited."""
        return self._closed.wait(timeout)

    def serve(self):
        self.start()
        while not self.wait(1.0):  # short waits keep signal handlers responsive
            pass

    def _watch(self):
        period = min(_SIGNAL_LATENCY, max(0.05, self._idle_timeout / 4)) if self._idle_timeout else _SIGNAL_LATENCY
        while not self._exit.wait(period):
            if self._signalled is not None:
                self.request_stop(self._signalled)
            elif (self._idle_timeout and self._httpd.activity.idle_for() > self._idle_timeout
                    and not self._board.busy()):
                self.request_stop(f"no request for {self._idle_timeout:g} s")
        self._close()

    def _close(self):
        log.info("stopping: %s", self.exit_reason)
        self._httpd.shutdown()
        self._httpd.close_connections()
        self._httpd.server_close()
        self._board.close()
        self.renderer.close()
        self._closed.set()
