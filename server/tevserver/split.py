"""Whether splitting a frame over threads pays, learnt from the frames before it.

    choice = SplitChoice()
    threads = choice.pick(kind, offered)      # offered > 1: offered or 1
    ...the frame is rendered on that many threads...
    choice.record(kind, threads, seconds)      # its wall time, when it ran alone

Handing a frame's blocks to more threads pays when the frame is heavy enough;
on a cheap one the second core does more for the requests around the job (the
bodies, polls and replies) than for the job, and the split frame is slower.
The frame alone does not tell which (a 1080p frame of the same size takes 2 or
12 ms of work depending on the parameters and the processing), so the choice
is measured, per kind of frame (its size, channels and depth):

- The first frame of a kind is not counted: it meets buffers and tables not
  yet made. The next ones alternate between the split and one thread.
- Then the split is taken while the fastest of its recent frames beats the
  fastest on one thread by `margin` (other work on the machine only ever slows
  a frame down, so the fastest is the fairest), and once taken it is left only
  when it is no faster at all, so that two ways about as fast do not alternate.
- Every `retry` frames the choice not taken is tried once more, so that a
  change of parameters or of the machine's load is followed.
"""
import logging
import threading

log = logging.getLogger("tevserver.split")

# Frames timed each way before the choice is made (after the first, not counted).
TRIALS = 3
# The recent frames each way that the choice reads.
WINDOW = 5
# The split must save this share of one thread's wall time to be taken.
MARGIN = 0.1
# Every this many frames of a kind, the choice not taken is tried once more.
RETRY = 32
# Kinds of frame remembered; the oldest is forgotten beyond this.
KINDS = 32


class SplitChoice:
    def __init__(self, trials=TRIALS, window=WINDOW, margin=MARGIN, retry=RETRY):
        self._trials = trials
        self._window = window
        self._margin = margin
        self._retry = retry
        self._kinds = {}  # kind -> _Kind, oldest first
        self._lock = threading.Lock()

    def pick(self, kind, offered):
        """How many threads the next frame of this kind runs on: offered or 1."""
        if offered <= 1:
            return 1
        with self._lock:
            k = self._kind(kind)
            k.frames += 1
            split_times, one_times = k.times[True], k.times[False]
            if len(split_times) < self._trials or len(one_times) < self._trials:
                split = len(split_times) <= len(one_times)  # alternate, the split first
            else:
                split = self._split_pays(k)
                if split != k.splits:
                    (log.info if k.splits is None else log.debug)(
                        "frames of %s: %s (%.1f ms split over %d threads, %.1f ms on one, the fastest of each)",
                        _described(kind), "split" if split else "one thread",
                        min(split_times) * 1e3, offered, min(one_times) * 1e3)
                    k.splits = split
                if k.frames % self._retry == 0:
                    split = not split
            return offered if split else 1

    def record(self, kind, threads, seconds):
        """The wall time of a frame of this kind rendered on that many threads."""
        with self._lock:
            k = self._kind(kind)
            k.recorded += 1
            if k.recorded == 1:
                return
            times = k.times[threads > 1]
            times.append(seconds)
            del times[:-self._window]

    def _split_pays(self, k):
        split_times, one_times = k.times[True], k.times[False]
        if not split_times or not one_times:
            return True
        margin = 0.0 if k.splits else self._margin
        return min(split_times) < (1.0 - margin) * min(one_times)

    def _kind(self, kind):
        k = self._kinds.pop(kind, None) or _Kind()
        self._kinds[kind] = k  # now the newest
        while len(self._kinds) > KINDS:
            del self._kinds[next(iter(self._kinds))]
        return k


class _Kind:
    def __init__(self):
        self.frames = 0
        self.recorded = 0
        self.splits = None  # the choice last taken after the trials
        self.times = {True: [], False: []}  # split? -> recent wall times, oldest first


def _described(kind):
    if isinstance(kind, tuple) and len(kind) == 4:
        width, height, channels, bit_depth = kind
        return f"{width}x{height}x{channels} {bit_depth}-bit"
    return str(kind)
