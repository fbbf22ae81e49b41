"""Frame-sized buffers in mappings of their own.

The kit's frame buffers (request bodies, render outputs) are anonymous private
mappings, not blocks of the C allocator: a buffer's memory goes back to the
system when the last array over it goes, whatever the allocator keeps in its
heaps, so the memory budget bounds what frames hold. Everything else, a
processing's block-sized scratch among it, is left to the allocator, which keeps
freed blocks for reuse: mapped afresh for every block, scratch would cost a page
fault per 4 KiB each time (eight times the blur example's own work).

    array = mapped_array(n)      # a writable flat uint8 array of n bytes
    buffer = GrowingBuffer(n)    # grows in place (mremap) while nothing views it:
    buffer.resize(m)             #   buffer.view(start, stop) is a memoryview to release
    array = buffer.array()       #   the whole buffer, after which it no longer grows
    mapped_bytes()               # the bytes of every such mapping alive
"""
import mmap
import threading
import weakref

import numpy as np

_lock = threading.Lock()
_mapped = 0


def mapped_bytes():
    with _lock:
        return _mapped


def _count(n):
    global _mapped
    with _lock:
        _mapped += n


def _map(nbytes):
    """A mapping of nbytes (at least one byte: mmap takes no empty mapping), counted until it goes."""
    mapping = mmap.mmap(-1, max(1, nbytes), flags=mmap.MAP_PRIVATE)
    _count(len(mapping))
    return mapping


class GrowingBuffer:
    def __init__(self, nbytes):
        self._mapping = _map(nbytes)
        self._size = [len(self._mapping)]  # what the finalizer gives back
        weakref.finalize(self._mapping, lambda size: _count(-size[0]), self._size)
        self.nbytes = nbytes

    def view(self, start, stop):
        return memoryview(self._mapping)[start:stop]

    def resize(self, nbytes):
        """Moves the bytes to a mapping of nbytes if need be; no view may be alive."""
        new = max(1, nbytes)
        self._mapping.resize(new)
        _count(new - self._size[0])
        self._size[0] = new
        self.nbytes = nbytes

    def array(self):
        return np.frombuffer(self._mapping, np.uint8)[:self.nbytes]


def mapped_array(nbytes):
    return GrowingBuffer(nbytes).array()
