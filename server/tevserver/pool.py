"""Frame-sized buffers kept for reuse, within the memory budget.

Every large block the server maps is handed back to the system when freed
(see budget.map_large_blocks_alone), and a fresh one costs a page fault per
page on first touch. Frames of a video come one after another at the same
size, so the pool keeps a few frame buffers of the sizes last seen and lends
them out again: a request body of that size is read into one, a render writes
its output into one.

    pool = FramePool(budget)
    buf = pool.lend(n)          # flat uint8 array of n bytes, pooled or fresh
    buf = pool.lend_pooled(n)   # only a pooled one (None when there is none)
    pool.collect()              # takes back the lent buffers nothing uses any more

A lent buffer (a view of the first nbytes of a kept array) is back once no array
or memoryview over it is left (numpy views hold the kept array itself, so its
reference count tells). A buffer in the pool is
charged to the budget; lent out, it is the borrower's to account for.
"""
import sys
import threading

import numpy as np

# Buffers the pool keeps at most, and the smallest size it lends.
POOL_BUFFERS = 4
SMALLEST_POOLED = 1 << 20
# A fresh buffer is this much longer than asked for, and a pooled one is lent for
# sizes up to this much below its own: a request body (a frame and a few hundred
# bytes of message) and a render's output (the frame) then share buffers.
HEADROOM = 64 * 1024


class FramePool:
    def __init__(self, budget, buffers=POOL_BUFFERS):
        self._budget = budget
        self._buffers = buffers
        self._lent = []  # buffers out on loan
        self._free = []  # buffers in the pool, the most recently returned last
        self._lock = threading.Lock()

    def lend(self, nbytes):
        """A flat uint8 array of nbytes: a pooled one of that size, else a fresh one."""
        buffer = self.lend_pooled(nbytes)
        if buffer is not None:
            return buffer
        if nbytes < SMALLEST_POOLED:
            return np.empty(nbytes, np.uint8)
        buffer = np.empty(nbytes + HEADROOM, np.uint8)
        with self._lock:
            self._lent.append(buffer)
        return buffer[:nbytes]

    def lend_pooled(self, nbytes):
        if nbytes < SMALLEST_POOLED:
            return None
        self.collect()
        with self._lock:
            for i in range(len(self._free) - 1, -1, -1):
                if nbytes <= self._free[i].nbytes <= nbytes + 2 * HEADROOM:
                    buffer = self._free.pop(i)
                    self._lent.append(buffer)
                    break
            else:
                return None
        # Lent, its bytes are the borrower's to account for (up to 128 KiB beyond nbytes).
        self._budget.give_back(buffer.nbytes)
        return buffer[:nbytes]

    def collect(self):
        """Moves the lent buffers that nothing uses any more into the pool, as far as
        the pool's size and the budget allow; the others are freed."""
        with self._lock:
            # References: the list's, the loop's and getrefcount's own argument.
            back = [b for b in self._lent if sys.getrefcount(b) <= 3]
            if not back:
                return
            self._lent = [b for b in self._lent if all(b is not r for r in back)]
            kept = [b for b in back[-self._buffers:] if self._budget.try_take(b.nbytes)]
            self._free += kept
            dropped = self._free[:-self._buffers] if len(self._free) > self._buffers else []
            del self._free[:len(dropped)]
        for buffer in dropped:
            self._budget.give_back(buffer.nbytes)

    def reclaim(self):
        """Frees every pooled buffer and gives its bytes back; True when there were any."""
        self.collect()
        with self._lock:
            freed, self._free = self._free, []
        for buffer in freed:
            self._budget.give_back(buffer.nbytes)
        return bool(freed)

    @property
    def pooled_bytes(self):
        with self._lock:
            return sum(b.nbytes for b in self._free)
