"""MessagePack in and out.

A request body is decoded whole. A reply is encoded into a list of buffers in
which every large bytes-like value (a frame's pixels) appears as itself, after
its bin header, so that it reaches the socket without being copied again.
Floats are always written as float64.
"""
import struct

import msgpack

from .errors import RequestError

# Bytes-like values at least this long are sent in place rather than packed.
IN_PLACE_BYTES = 64 * 1024

_header_packer = msgpack.Packer()


def decode_request(body):
    """The request object of a body; RequestError when it is no MessagePack object."""
    if not body:
        raise RequestError("the request body is empty; expected one MessagePack map")
    try:
        return msgpack.unpackb(body, raw=False, strict_map_key=True)
    except msgpack.ExtraData:
        raise RequestError("the request body holds bytes after its MessagePack object") from None
    except Exception as e:  # malformed, truncated, too deep, bad UTF-8, unhashable keys
        raise RequestError(f"the request body is not valid MessagePack ({type(e).__name__}: {e})") from None


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
    if head or not chunks:
        chunks.append(head)
    return chunks
