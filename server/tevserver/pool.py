"""Frame-sized buffers kept for reuse, within the memory budget.

Every frame buffer is a mapping of its own, handed back to the system when
freed (mapped.py), and a fresh one costs a page fault per page on first touch. Frames of a video come one after another at the same
size, so the pool keeps a few frame buffers of the sizes last seen and lends
them out again: a request body of that size is read into one, a render writes
its output into one.

    loan = pool.lend(n)          # a Loan: loan.array is a flat uint8 array of n bytes
    loan = pool.lend_pooled(n)   # only from a kept buffer (None when there is none)
    loan.hold()                  # one more holder (a job that keeps the body's frame)
    loan.release()               # one holder less; the last one gives the buffer back

A buffer goes back to the pool only when every holder has released it (reply
sent, job ended, result dropped), never by looking at who still refers to it.
The borrower charges the n bytes it asked for to the budget; the pool charges
what the buffer holds beyond them while it is lent, and the whole buffer while
it is kept.
"""
import threading

from .mapped import mapped_array

# Buffers the pool keeps at most, and the smallest size it lends.
POOL_BUFFERS = 4
SMALLEST_POOLED = 1 << 20
# A fresh buffer is this much longer than asked for, and a pooled one is lent for
# sizes up to this much below its own: a request body (a frame and a few hundred
# bytes of message) and a render's output (the frame) then share buffers.
HEADROOM = 64 * 1024


class Loan:
    """One lent buffer and the count of its holders."""

    def __init__(self, pool, buffer, nbytes, excess):
        self.array = buffer[:nbytes]
        self._buffer = buffer
        self._excess = excess  # bytes beyond nbytes, charged by the pool while lent
        self._pool = pool
        self._holders = 1
        self._lock = threading.Lock()

    def hold(self):
        with self._lock:
            if self._holders == 0:
                raise RuntimeError("a returned buffer was held again")
            self._holders += 1
        return self

    def release(self):
        with self._lock:
            if self._holders == 0:
                raise RuntimeError("a buffer was released more often than held")
            self._holders -= 1
            last = self._holders == 0
        if last:
            buffer, self._buffer, self.array = self._buffer, None, None
            self._pool._give_back(buffer, self._excess)


class FramePool:
    def __init__(self, budget, buffers=POOL_BUFFERS):
        self._budget = budget
        self._buffers = buffers
        self._free = []  # buffers in the pool, the most recently returned last
        self._lock = threading.Lock()

    def lend(self, nbytes):
        """A Loan of nbytes: from a kept buffer of that size, else a fresh one."""
        loan = self.lend_pooled(nbytes)
        if loan is not None:
            return loan
        # The headroom lets the buffer serve the other kind of use later; it is
        # allocated only when the budget has room for it.
        excess = HEADROOM if nbytes >= SMALLEST_POOLED and self._budget.try_take(HEADROOM) else 0
        try:
            buffer = mapped_array(nbytes + excess)
        except BaseException:
            self._budget.give_back(excess)
            raise
        return Loan(self, buffer, nbytes, excess)

    def lend_pooled(self, nbytes):
        if nbytes < SMALLEST_POOLED:
            return None
        with self._lock:
            for i in range(len(self._free) - 1, -1, -1):
                if nbytes <= self._free[i].nbytes <= nbytes + 2 * HEADROOM:
                    buffer = self._free.pop(i)
                    break
            else:
                return None
        # Kept, the whole buffer was charged; lent, the borrower charges nbytes.
        self._budget.give_back(nbytes)
        return Loan(self, buffer, nbytes, buffer.nbytes - nbytes)

    def _give_back(self, buffer, excess):
        """A buffer whose last holder let go: kept when the pool and budget have room, else freed."""
        if buffer.nbytes < SMALLEST_POOLED:
            self._budget.give_back(excess)
            return
        kept = self._budget.try_take(buffer.nbytes - excess)
        if not kept:
            self._budget.give_back(excess)
            return
        with self._lock:
            self._free.append(buffer)
            dropped = self._free[:-self._buffers] if len(self._free) > self._buffers else []
            del self._free[:len(dropped)]
        for old in dropped:
            self._budget.give_back(old.nbytes)

    def reclaim(self):
        """Frees every pooled buffer and gives its bytes back; True when there were any."""
        with self._lock:
            freed, self._free = self._free, []
        for buffer in freed:
            self._budget.give_back(buffer.nbytes)
        return bool(freed)

    @property
    def pooled_bytes(self):
        with self._lock:
            return sum(b.nbytes for b in self._free)
