"""The memory budget: one count of the bytes that request bodies, job frames and
finished results hold, against a fixed cap.

    budget = MemoryBudget(1 << 30)
    budget.take(n, "a request body")    # BudgetExceeded when n more would pass the cap
    budget.give_back(n)

The count bounds the process's size only when freed frames leave the process:
map_large_blocks_alone() makes the C allocator map every large block on its own
(unmapped when freed) instead of keeping freed frames in its heaps for reuse.
"""
import ctypes
import threading

from .errors import RequestError


class BudgetExceeded(RequestError):
    """More bytes were asked for than the budget has left; str(e) says how many and why."""


class MemoryBudget:
    def __init__(self, cap, reclaim=None):
        self.cap = cap
        self.reclaim = reclaim  # reclaim() frees kept bytes (a pool) when take() lacks room
        self._held = 0
        self._lock = threading.Lock()

    @property
    def held(self):
        with self._lock:
            return self._held

    def try_take(self, n):
        """True when n more bytes fit, and then they are held."""
        with self._lock:
            if self._held + n > self.cap:
                return False
            self._held += n
            return True

    def take(self, n, what):
        if self.try_take(n) or (self.reclaim is not None and self.reclaim() and self.try_take(n)):
            return
        raise BudgetExceeded(
            f"server memory budget full: {what} needs {n} more bytes while {self.held} of "
            f"{self.cap} are held by requests in progress, queued jobs and uncollected results; "
            "try again once results are collected")

    def give_back(self, n):
        with self._lock:
            self._held -= n
            assert self._held >= 0, "memory budget given back more than was taken"


# glibc's mallopt parameter and the size from which blocks are mapped on their own
# (its default start; left alone, it rises to 32 MiB after the first large block is
# freed, and frame-sized blocks then stay in the heaps of every thread).
_M_MMAP_THRESHOLD = -3
LARGE_BLOCK_BYTES = 128 * 1024


def map_large_blocks_alone():
    """True when the C library took the setting (glibc); elsewhere nothing changes."""
    try:
        return bool(ctypes.CDLL(None).mallopt(_M_MMAP_THRESHOLD, LARGE_BLOCK_BYTES))
    except (OSError, AttributeError):
        return False
