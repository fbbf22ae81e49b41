"""The methods of the wire protocol: one request map in, one reply map out.

Every request carries the client's envelope ("request_id", "plugin_id",
"plugin_version", "tev_lib_version") beside "method". Replies:

    call_plugin "render"              {"status": "queued"}; the job's id is the request's "request_id"
    call_plugin "user_changed_param"  {"result": {"ok": True}}
    get_result (for_request_id)       {"result": {"result": "no_result_found"}} while pending
                                      (for the only job on the board, after waiting up to
                                      poll_hold seconds for it to end),
                                      then {"result": <job result>} once, where a render's job
                                      result is {"result": {"image": <image dictionary>}}: the
                                      client hands the reply's "result" to its caller, which
                                      reads "result.image" from it
    get_progress (for_request_id)     {"result": {"progress": <int percent>}}
    abort_request (request_id)        {"result": {"aborted": <bool>}}; the result is dropped
    unload_plugin                     {"result": {"ok": True}}; jobs are left alone, since every
                                      instance and host of a plug-in shares its "plugin_id"
    open_tev_app                      {"result": {"ok": True}}: the server is already running
    ui                                {"error": ...}: this server has no user interface

Anything the server cannot serve answers {"error": "<what and why>"}. A render
that fails while it runs is delivered by get_result as {"result": {"error": ...}}.
"""
import logging

from .budget import BudgetExceeded
from .errors import RequestError

log = logging.getLogger("tevserver.protocol")

PENDING = {"result": {"result": "no_result_found"}}


def _string_entry(request, key, where):
    value = request.get(key)
    if value is None:
        raise RequestError(f"{where} lacks '{key}'")
    if not isinstance(value, str):
        raise RequestError(f"{where} '{key}' must be a string, not {type(value).__name__}")
    return value


class Protocol:
    def __init__(self, board, renderer, poll_hold=0.0):
        self._board = board
        self._renderer = renderer  # render.Renderer: the server's Processing on frames
        self._poll_hold = poll_hold  # seconds a get_result may wait for the only job to end
        self._methods = {
            "call_plugin": self._call_plugin,
            "get_result": self._get_result,
            "get_progress": self._get_progress,
            "abort_request": self._abort_request,
            "ui": self._ui,
            "unload_plugin": self._unload_plugin,
            "open_tev_app": self._open_tev_app,
        }
        self._functions = {
            "render": self._render,
            "user_changed_param": self._user_changed_param,
        }

    def handle(self, request, after_reply=None, received=None):
        """The reply map of one decoded request; never raises for a bad request, only
        BudgetExceeded when the request's bytes do not fit. Callables that let go of
        what the reply holds are appended to after_reply, to be called once it is sent.
        received (http_front.Received): the body the request's large values are views into."""
        if after_reply is None:  # nothing outlives this call: let go at once
            held = []
            try:
                return self.handle(request, held, received)
            finally:
                for release in held:
                    release()
        try:
            if not isinstance(request, dict):
                raise RequestError(f"the request must be a map, not {type(request).__name__}")
            method = _string_entry(request, "method", "the request")
            handler = self._methods.get(method)
            if handler is None:
                raise RequestError(f"unknown method '{method}'")
            return handler(request, after_reply, received)
        except BudgetExceeded:
            raise
        except RequestError as e:
            return {"error": str(e)}

    # --- call_plugin ---------------------------------------------------------
    def _call_plugin(self, request, after_reply, received):
        name = _string_entry(request, "function_name", "call_plugin")
        function = self._functions.get(name)
        if function is None:
            raise RequestError(f"unknown function '{name}' for call_plugin")
        return function(request, request.get("args"), received)

    def _render(self, request, args, received):
        job_id = _string_entry(request, "request_id", "call_plugin 'render'")
        renderer = self._renderer
        frame, params = renderer.prepare(args)
        size = len(frame.pixels)
        # A large frame is a view into the body: the job holds the pool's buffer it is in.
        loan = received.loan if received is not None else None
        queued = self._board.submit(job_id, lambda job: renderer.run(frame, params, job, loan),
                                    input_bytes=size, result_bytes=size, hold=loan)
        log.info("render %s: %dx%dx%d at %d bits, %s%s", job_id, frame.width, frame.height,
                 frame.channels, frame.bit_depth, renderer.processing.describe(params),
                 "" if queued else " (already queued)")
        return {"status": "queued"}

    def _user_changed_param(self, request, args, received):
        log.info("user_changed_param from %s: %r", request.get("plugin_id"), args)
        return {"result": {"ok": True}}

    # --- polling -------------------------------------------------------------
    def _get_result(self, request, after_reply, received):
        job_id = _string_entry(request, "for_request_id", "get_result")
        found, done, result, release = self._board.take_result(job_id, self._poll_hold)
        if release is not None:
            after_reply.append(release)
        if not found:
            # Never queued, aborted, already collected or expired. Kept short: the
            # plug-in draws this text as one line into the frame.
            raise RequestError(f"get_result: no job with request id '{job_id}'")
        return {"result": result} if done else PENDING

    def _get_progress(self, request, after_reply, received):
        job_id = _string_entry(request, "for_request_id", "get_progress")
        progress = self._board.progress(job_id)
        if progress is None:
            raise RequestError(f"get_progress: no job with request id '{job_id}'")
        return {"result": {"progress": progress}}

    def _abort_request(self, request, after_reply, received):
        job_id = _string_entry(request, "request_id", "abort_request")
        return {"result": {"aborted": self._board.abort(job_id)}}

    # --- one-shot messages ---------------------------------------------------
    def _ui(self, request, after_reply, received):
        name = _string_entry(request, "function_name", "ui")
        raise RequestError(f"ui function '{name}' is not available: this server has no user interface")

    def _unload_plugin(self, request, after_reply, received):
        log.info("unload_plugin from %r", request.get("plugin_id"))
        return {"result": {"ok": True}}

    def _open_tev_app(self, request, after_reply, received):
        return {"result": {"ok": True}}
