"""MessagePack in and out.

A request body is decoded whole, after a scan that bounds what decoding it
takes: the number of values (MAX_VALUES) and the bytes of the decoded objects
(DecodePlan.size, charged to the memory budget before decoding). Large bins (a
frame's pixels) are not copied: they decode to memoryviews into the body, which
therefore must stay unchanged while the request's values are in use. A reply is encoded into a list of buffers in
which every large bytes-like value (a frame's pixels) appears as itself, after
its bin header, so that it reaches the socket without being copied again.
Floats are always written as float64.
"""
import os
import struct

import msgpack

from .errors import RequestError

# Bytes-like values at least this long are sent in place rather than packed.
IN_PLACE_BYTES = 64 * 1024

# A request holds a few dozen values; this many already means a hostile body
# (each decoded value costs a Python object, up to a hundred times its encoding).
MAX_VALUES = 100_000
# The bound used for the memory of one decoded value besides its bytes.
VALUE_OBJECT_BYTES = 128
# Nesting deeper than this is refused (the decoder's own limit is far larger).
MAX_DEPTH = 64

_header_packer = msgpack.Packer()

# Fixed-size values by type byte: the bytes that follow it.
_FIXED = {0xC0: 0, 0xC2: 0, 0xC3: 0, 0xCC: 1, 0xCD: 2, 0xCE: 4, 0xCF: 8, 0xD0: 1, 0xD1: 2,
          0xD2: 4, 0xD3: 8, 0xCA: 4, 0xCB: 8, 0xD4: 2, 0xD5: 3, 0xD6: 5, 0xD7: 9, 0xD8: 17}
# Length-prefixed values by type byte: (bytes of the length, decoded bytes per encoded byte).
# A str may decode to up to four bytes per byte (one wide character widens the whole string).
_SIZED = {0xC4: (1, 1), 0xC5: (2, 1), 0xC6: (4, 1), 0xD9: (1, 4), 0xDA: (2, 4), 0xDB: (4, 4),
          0xC7: (1, 1), 0xC8: (2, 1), 0xC9: (4, 1)}
_CONTAINERS = {0xDC: (2, 1), 0xDD: (4, 1), 0xDE: (2, 2), 0xDF: (4, 2)}


# Application ext type of the stand-ins for large bins while the rest is decoded.
_STAND_IN_TYPE = 127


class DecodePlan:
    """What a scan of a body found: the bound of its decoded size and its large bins."""

    def __init__(self, size, bins):
        self.size = size  # bytes the decoded objects take at most, large bins aside
        self.bins = bins  # (header start, data start, data end) of each large bin, in order


def scan(body):
    """The DecodePlan of a body. RequestError when it holds more than MAX_VALUES values
    or nests deeper than MAX_DEPTH; a malformed body is left to the decoder to name (the
    scan stops where it breaks)."""
    view = memoryview(body)
    end = len(view)
    pos, values, size, bins = 0, 0, 0, []
    pending = [1]  # values still to read at each open level
    while pending and pos < end:
        if pending[-1] == 0:
            pending.pop()
            continue
        pending[-1] -= 1
        values += 1
        if values > MAX_VALUES:
            raise RequestError(f"the request body holds more than {MAX_VALUES} MessagePack values; "
                               "a request is one small map")
        start = pos
        t = view[pos]
        pos += 1
        count = 0
        if t <= 0x7F or t >= 0xE0:
            continue
        if 0x80 <= t <= 0x8F:
            count = 2 * (t & 0x0F)
        elif 0x90 <= t <= 0x9F:
            count = t & 0x0F
        elif 0xA0 <= t <= 0xBF:
            n = t & 0x1F
            size += 4 * n
            pos += n
            continue
        elif t in _FIXED:
            pos += _FIXED[t]
            continue
        elif t in _SIZED:
            width, factor = _SIZED[t]
            n = int.from_bytes(view[pos:pos + width], "big")
            pos += width + (1 if t in (0xC7, 0xC8, 0xC9) else 0)
            if t in (0xC5, 0xC6) and n >= IN_PLACE_BYTES and pos + n <= end:
                bins.append((start, pos, pos + n))
            else:
                size += factor * n
            pos += n
            continue
        elif t in _CONTAINERS:
            width, per = _CONTAINERS[t]
            count = per * int.from_bytes(view[pos:pos + width], "big")
            pos += width
        else:
            break  # 0xC1: never used
        if count:
            if len(pending) > MAX_DEPTH:
                raise RequestError(f"the request body nests MessagePack values deeper than {MAX_DEPTH} levels")
            pending.append(count)
    return DecodePlan(size + VALUE_OBJECT_BYTES * values, bins)


# Texts for decoder errors that carry no message of their own.
_DECODER_FAULTS = {
    "FormatError": "a byte that starts no MessagePack value",
    "StackError": "values nested too deeply",
}


def decode_request(body, plan=None):
    """The request object of a body; RequestError when it is no MessagePack object.
    With the body's plan, its large bins decode to memoryviews into body."""
    if len(body) == 0:
        raise RequestError("the request body is empty; expected one MessagePack map")
    source, ext_hook = body, msgpack.ExtType
    if plan is not None and plan.bins:
        # The rest of the body with a 16-byte stand-in (a per-call token and an index)
        # for each large bin; the decoder hands the stand-ins back as views.
        view = memoryview(body)
        token = os.urandom(12)
        parts, at = [], 0
        for index, (start, data, stop) in enumerate(plan.bins):
            parts += [view[at:start], b"\xd8\x7f", token, index.to_bytes(4, "big")]
            at = stop
        parts.append(view[at:])
        source = b"".join(parts)

        def ext_hook(code, data):
            if code == _STAND_IN_TYPE and data[:12] == token:
                _, first, stop = plan.bins[int.from_bytes(data[12:], "big")]
                return view[first:stop]
            return msgpack.ExtType(code, data)
    try:
        return msgpack.unpackb(source, raw=False, strict_map_key=True, ext_hook=ext_hook)
    except msgpack.ExtraData:
        raise RequestError("the request body holds bytes after its MessagePack object") from None
    except Exception as e:  # malformed, truncated, too deep, bad UTF-8, unhashable keys
        name = type(e).__name__
        detail = str(e).strip() or _DECODER_FAULTS.get(name, "no detail from the decoder")
        raise RequestError(f"the request body is not valid MessagePack ({name}: {detail})") from None


def _bin_header(n):
    if n < 1 << 8:
        return struct.pack(">BB", 0xC4, n)
    if n < 1 << 16:
        return struct.pack(">BH", 0xC5, n)
    return struct.pack(">BI", 0xC6, n)


def encode_reply(reply):
    """The MessagePack encoding of reply as a list of bytes-like buffers."""
    chunks = []
    head = bytearray()

    def emit(obj):
        nonlocal head
        if isinstance(obj, dict):
            head += _header_packer.pack_map_header(len(obj))
            for key, value in obj.items():
                head += msgpack.packb(key)
                emit(value)
        elif isinstance(obj, (list, tuple)):
            head += _header_packer.pack_array_header(len(obj))
            for item in obj:
                emit(item)
        elif isinstance(obj, (bytes, bytearray, memoryview)) and memoryview(obj).nbytes >= IN_PLACE_BYTES:
            view = memoryview(obj).cast("B")
            head += _bin_header(view.nbytes)
            chunks.append(head)
            chunks.append(view)
            head = bytearray()
        else:
            head += msgpack.packb(obj, use_bin_type=True, use_single_float=False)

    emit(reply)
    emit = None  # emit refers to itself: without this the cycle, and the frames in chunks, wait for the GC
    if head or not chunks:
        chunks.append(head)
    return chunks
