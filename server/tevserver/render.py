"""The "render" function of any Processing: a frame cut into blocks of rows.

    renderer = Renderer(processing, RenderOptions(threads=2), lend=pool.lend)
    frame, params = renderer.prepare(args)          # RequestError before anything is queued
    result = renderer.run(frame, params, job)       # on a job board's worker

The blocks of a frame run on a thread pool shared by all jobs (numpy releases
the GIL in its loops); with one thread they run on the job's worker in order.
Renders that run at once share the threads: a render begun beside others takes
its share, and a split frame's pool threads stop taking its blocks once another
render begins. A render that runs alone is split only while that pays for frames
of its kind (SplitChoice measures it).
Progress is the share of rows done; an abort stops the blocks not yet begun.
Each block writes only its own rows, so the result is the same whatever the
number of threads. The output is a reused buffer: a block's rows are cleared
before the Processing writes them, unless it declares fills_rows.
"""
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
import os
import threading
import time

import numpy as np

from .errors import RequestError, one_line
from .image import frame_from_dict, frame_to_dict
from .split import SplitChoice


@dataclass(frozen=True)
class RenderOptions:
    # Threads that run a frame's blocks; 0 means one per core.
    threads: int = 0
    # Progress and abort are checked between blocks of rows of about this many
    # samples: a few dozen per HD frame, a few per thread.
    block_samples: int = 1 << 18
    # A pause before each block; only tests that watch progress and abort
    # mid-frame set it.
    block_pause: float = 0.0
    # A frame of fewer samples than this per thread gets fewer threads (one at the
    # least): handing blocks to other threads costs more than they save on it.
    split_samples: int = 1 << 20

    def thread_count(self):
        return self.threads if self.threads > 0 else (os.cpu_count() or 1)


class Renderer:
    def __init__(self, processing, options=RenderOptions(), lend=None):
        self.processing = processing
        self.options = options
        self._lend = lend  # lend(nbytes) -> pool Loan for a render's output
        threads = options.thread_count()
        self._pool = ThreadPoolExecutor(threads, thread_name_prefix="tev-rows") if threads > 1 else None
        self._choice = SplitChoice()
        self._lock = threading.Lock()
        self._running = 0  # renders in progress
        self._begun = 0    # renders ever begun: a render ran alone if none began during it

    def close(self):
        if self._pool is not None:
            self._pool.shutdown(wait=False, cancel_futures=True)

    def prepare(self, args):
        """Checks a render's "args" and returns (frame, params) ready for a job."""
        if not isinstance(args, dict):
            raise RequestError(f"render 'args' must be a map, not {type(args).__name__}")
        for key in ("image", "params"):
            if key not in args:
                raise RequestError(f"render args lack '{key}'")
        frame = frame_from_dict(args["image"])
        try:
            self.processing.check_frame(frame)
            return frame, self.processing.check(args["params"])
        except RequestError as e:  # the plug-in draws it as one line into the frame
            raise RequestError(one_line(e)) from None

    def run(self, frame, params, job, loan=None):
        """Renders a frame as a job; loan is the pool's buffer the frame's pixels live in
        (held by the result when the frame goes back unchanged).
        Returns the job's result: {"result": {"image": <canonical image dictionary>}}."""
        if not self.processing.changes(params):
            if loan is not None:
                job.keep(loan.hold())
            job.report(100)
            return {"result": {"image": frame_to_dict(frame)}}

        src = frame.samples()
        if self._lend is None:
            out = np.empty_like(src)
        else:
            out_loan = job.keep(self._lend(src.nbytes))
            out = out_loan.array.view(src.dtype).reshape(src.shape)
        rows = max(1, self.options.block_samples // max(1, frame.width * frame.channels))
        blocks = [(top, min(frame.height, top + rows)) for top in range(0, frame.height, rows)]
        done = _RowsDone(job, frame.height)

        clear = not self.processing.fills_rows  # out is a reused buffer

        def block(top, bottom):
            job.check_abort()
            if self.options.block_pause:
                time.sleep(self.options.block_pause)
            if clear:
                out[top:bottom] = 0
            self.processing.rows(src, out, top, bottom, params, frame.bit_depth)
            done.add(bottom - top)

        samples = frame.width * frame.height * frame.channels
        offered = min(self.options.thread_count(), len(blocks), max(1, samples // self.options.split_samples))
        kind = (frame.width, frame.height, frame.channels, frame.bit_depth)
        with self._lock:
            others = self._running
            self._running += 1
            self._begun += 1
            begun = self._begun
        try:
            threads = max(1, offered // (others + 1))  # the cores are shared with the other renders
            if others == 0:
                threads = self._choice.pick(kind, threads)
            started = time.perf_counter()
            if self._pool is None or threads == 1:
                for top, bottom in blocks:
                    block(top, bottom)
            else:
                _on_threads(self._pool, threads, blocks, block, crowded=lambda: self._running > 1)
                job.check_abort()
            seconds = time.perf_counter() - started
        finally:
            with self._lock:
                self._running -= 1
                alone = others == 0 and self._begun == begun
        if alone and offered > 1:
            self._choice.record(kind, threads, seconds)
        job.report(100)
        return {"result": {"image": frame_to_dict(frame.with_pixels(out))}}


def _on_threads(pool, threads, blocks, block, crowded=lambda: False):
    """Runs block(top, bottom) for every block on this thread and threads - 1 of the pool's,
    each taking the next block not yet begun; returns once all have ended (or, after a
    failure, once no more are begun) and raises the first failure. The pool's threads
    take no more blocks once crowded() is true (this thread then does the rest)."""
    pending = iter(blocks)
    lock = threading.Lock()
    errors = []

    def take_blocks(helping):
        while True:
            if helping and crowded():
                return
            with lock:
                taken = None if errors else next(pending, None)
            if taken is None:
                return
            try:
                block(*taken)
            except BaseException as e:
                with lock:
                    errors.append(e)

    helpers = [pool.submit(take_blocks, True) for _ in range(threads - 1)]
    take_blocks(False)
    for helper in helpers:  # every block has ended before the output is let go
        helper.result()
    if errors:
        raise _first(errors)


def _first(errors):
    """The first error, the list emptied: a failure's traceback holds the frames that hold
    the list, and a list that held the failure would keep them (and the frame's buffers in
    them) alive until the cycle collector ran."""
    first = errors[0]
    errors.clear()
    return first


class _RowsDone:
    """Progress of a frame as rows finish, from any thread."""

    def __init__(self, job, height):
        self._job = job
        self._height = height
        self._rows = 0
        self._lock = threading.Lock()

    def add(self, rows):
        with self._lock:
            self._rows += rows
            self._job.report(100 * self._rows // self._height)
