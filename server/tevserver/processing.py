"""The extension point: what a server does to a frame.

A processing server is the kit (HTTP front, memory budget, buffer pool, job
board, log, idle exit, all generic) plus one Processing:

    class Invert(Processing):
        name = "invert"
        depths = (8, 16)            # bit depths it takes; others are refused before queueing
        channels = (3, 4)           # channel counts it takes

        def check(self, params):    # the render's "params" map, before the job is queued
            if params.get("enable_effect") is not True:
                raise RequestError("invert: turn 'Enable Effect' on")   # one line, <= 94 chars
            return params           # what rows() gets as params

        def rows(self, src, dst, top, bottom, params, bit_depth):
            dst[top:bottom] = np.iinfo(src.dtype).max - src[top:bottom]

    Server(port=8000, process=Invert()).serve()

rows() writes output rows top..bottom-1 of dst from src; they come cleared (zero),
unless the Processing sets fills_rows = True to say that it writes every sample of
them, which spares the kit the clearing. Both are numpy arrays
of the whole frame, shape (height, width, channels), dtype uint8, uint16 or
float32 by depth; src is read-only and may be read anywhere (a blur reads the
rows around its block), dst only written in [top, bottom). The kit cuts a frame
into blocks of rows, runs them on its thread pool (numpy releases the GIL in its
loops) and handles progress and abort between blocks, so rows() must give the
same result for a row whatever block it comes in and must not keep state
between calls. An exception in rows() fails the job with its text.

check() refuses a request by raising RequestError (tevserver.RequestError) with
a text that the plug-in draws as one line into the frame: keep it under about 94
characters. changes(params) False returns the frame as it came (the effect is off).
"""
import importlib

from .errors import RequestError


class Processing:
    name = "processing"
    depths = (8, 16, 32)
    channels = (1, 2, 3, 4)
    # dst is a reused buffer: the kit clears a block's rows before rows() unless the
    # Processing declares that rows() writes every sample of them (as the adjustment
    # does), so that no byte of an earlier frame can reach a reply.
    fills_rows = False

    def check(self, params):
        """The parsed parameters of a render, or RequestError with a one-line reason."""
        if not isinstance(params, dict):
            raise RequestError(f"render 'params' must be a map, not {type(params).__name__}")
        return params

    def changes(self, params):
        """False when the frame is returned as it is (the default: when 'enable_effect' is False)."""
        return not (isinstance(params, dict) and params.get("enable_effect") is False)

    def describe(self, params):
        """A few words on the parameters for the log line of a queued render."""
        return self.name

    def rows(self, src, dst, top, bottom, params, bit_depth):
        raise NotImplementedError(f"{type(self).__name__}.rows")

    def check_frame(self, frame):
        """RequestError when the frame's depth or channel count is not among those declared."""
        if frame.bit_depth not in self.depths:
            raise RequestError(f"{self.name} takes {_listed(self.depths)}-bit frames, not {frame.bit_depth}-bit")
        if frame.channels not in self.channels:
            raise RequestError(f"{self.name} takes frames of {_listed(self.channels)} channels, "
                               f"not {frame.channels}")


def _listed(values):
    values = [str(v) for v in values]
    return values[0] if len(values) == 1 else ", ".join(values[:-1]) + " or " + values[-1]


def load(target):
    """The Processing named by "module:name": an instance, or a class or function that
    returns one when called without arguments. ValueError says what is wrong."""
    module_name, _, attr = target.partition(":")
    if not module_name or not attr:
        raise ValueError(f"--process {target!r}: expected module:name, e.g. box_blur:BLUR")
    try:
        module = importlib.import_module(module_name)
    except ImportError as e:
        raise ValueError(f"--process {target!r}: cannot import {module_name}: {e}") from None
    found = getattr(module, attr, None)
    if found is None:
        raise ValueError(f"--process {target!r}: {module_name} has no {attr!r}")
    if not isinstance(found, Processing) and callable(found):
        found = found()
    if not isinstance(found, Processing):
        raise ValueError(f"--process {target!r}: {attr} is a {type(found).__name__}, not a tevserver.Processing")
    return found
