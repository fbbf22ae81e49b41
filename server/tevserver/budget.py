"""The memory budget: one count of the bytes that request bodies, job frames and
finished results hold, against a fixed cap.

    budget = MemoryBudget(1 << 30)
    budget.take(n, "a request body")    # BudgetExceeded when n more would pass the cap
    budget.give_back(n)

The count bounds the process's size because freed frames leave the process:
every frame buffer is a mapping of its own (mapped.py), unmapped when freed.
"""
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

