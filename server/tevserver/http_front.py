"""The HTTP/1.1 front: one MessagePack body per POST to "/api", keep-alive.

Status codes: 200 for every request to POST /api whose body arrived, also when
the reply is an "error" (so that the client reports it rather than retrying);
404 for any other path, 405 for another method on /api, 411 without a
Content-Length, 413 for a body above the size cap, 400/501/505 for malformed
HTTP. Every body is MessagePack, an error one being {"error": "..."}; after an
error whose request body was left unread the connection is closed.
"""
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
import logging
import socket
import threading
import time
from urllib.parse import urlsplit

from .errors import RequestError
from .wire import decode_request, encode_reply

log = logging.getLogger("tevserver.http")

API_PATH = "/api"
CONTENT_TYPE = "application/x-msgpack"
# Replies up to this size leave in one send, headers included.
COALESCE_BYTES = 64 * 1024


class ApiHTTPServer(ThreadingHTTPServer):
    """Threaded listener that tracks its connections (to close them on shutdown)
    and the time of the last request (for the idle exit)."""

    daemon_threads = True
    request_queue_size = 64

    def __init__(self, address, app, max_body, keepalive):
        self.app = app            # app.handle(request object) -> reply map
        self.max_body = max_body
        self.keepalive = keepalive
        self.activity = Activity()
        self._connections = set()
        self._connections_lock = threading.Lock()
        super().__init__(address, ApiHandler)

    def track(self, sock, alive):
        with self._connections_lock:
            (self._connections.add if alive else self._connections.discard)(sock)

    def close_connections(self):
        with self._connections_lock:
            socks = list(self._connections)
        for sock in socks:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


class Activity:
    """Requests in progress and the monotonic time the last one began or ended."""

    def __init__(self):
        self._clock = time.monotonic
        self._lock = threading.Lock()
        self.in_progress = 0
        self.last = self._clock()

    def begin(self):
        with self._lock:
            self.in_progress += 1
            self.last = self._clock()

    def end(self):
        with self._lock:
            self.in_progress -= 1
            self.last = self._clock()

    def idle_for(self):
        """Seconds since the last request, 0 while one is in progress."""
        with self._lock:
            return 0.0 if self.in_progress else self._clock() - self.last


class ApiHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TevoraReference/2"

    def setup(self):
        self.timeout = self.server.keepalive  # applied to the socket by setup()
        super().setup()
        # Polls are tiny; they must not wait for a delayed ACK of the previous reply.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.server.track(self.connection, True)

    def finish(self):
        self.server.track(self.connection, False)
        try:
            super().finish()
        except OSError:
            pass

    # --- routing -------------------------------------------------------------
    def _path(self):
        return urlsplit(self.path).path

    def _content_length(self):
        """The announced body length, or None after answering why it is unusable."""
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            self.send_error(411, "chunked bodies are not accepted; send a Content-Length")
            return None
        raw = self.headers.get("Content-Length")
        if raw is None:
            self.send_error(411, "POST /api needs a Content-Length")
            return None
        try:
            length = int(raw)
            if length < 0:
                raise ValueError
        except ValueError:
            self.send_error(400, f"bad Content-Length {raw!r}")
            return None
        if length > self.server.max_body:
            self.send_error(413, f"body of {length} bytes is above the limit of "
                                 f"{self.server.max_body} bytes")
            return None
        return length

    def handle_expect_100(self):
        # Refuse before the client sends a body we would not read.
        if self.command != "POST" or self._path() != API_PATH:
            self._refuse_route()
            return False
        if self._content_length() is None:
            return False
        return super().handle_expect_100()

    def _refuse_route(self):
        if self._path() == API_PATH:
            self.send_error(405, f"{self.command} is not served; POST a MessagePack body to {API_PATH}",
                            allow="POST")
        else:
            self.send_error(404, f"no such path {self._path()!r}; the server answers POST {API_PATH}")

    def do_POST(self):
        if self._path() != API_PATH:
            self._refuse_route()
            return
        length = self._content_length()
        if length is None:
            return
        self.server.activity.begin()
        try:
            body = self._read_body(length)
            if body is None:
                return
            reply = encode_reply(self._dispatch(body))
            del body
            try:
                self._send(200, reply)
            except OSError as e:
                log.info("client left before its reply was sent: %s", e)
                self.close_connection = True
        finally:
            self.server.activity.end()

    def do_GET(self):
        self._refuse_route()

    do_HEAD = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = do_GET

    # --- body in, reply out --------------------------------------------------
    def _read_body(self, length):
        """The whole body in one preallocated buffer, or None when the client left."""
        body = bytearray(length)
        view = memoryview(body)
        got = 0
        try:
            while got < length:
                n = self.rfile.readinto(view[got:])
                if not n:
                    break
                got += n
        except OSError as e:
            log.info("client left during a %d-byte body: %s", length, e)
            got = -1
        if got != length:
            self.close_connection = True
            return None
        return body

    def _dispatch(self, body):
        try:
            return self.server.app.handle(decode_request(body))
        except RequestError as e:
            return {"error": str(e)}
        except Exception as e:  # a fault of ours must cost one reply, not the server
            log.exception("internal error")
            return {"error": f"internal server error: {type(e).__name__}: {e}"}

    def _send(self, status, chunks, close=False, allow=None):
        total = sum(memoryview(c).nbytes for c in chunks)
        lines = [f"HTTP/1.1 {status} {self.responses.get(status, ('',))[0]}",
                 f"Server: {self.version_string()}",
                 f"Content-Type: {CONTENT_TYPE}",
                 f"Content-Length: {total}"]
        if allow:
            lines.append(f"Allow: {allow}")
        if close:
            lines.append("Connection: close")
            self.close_connection = True
        head = bytearray(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
        # Headers and small parts go out together; large pixel blocks in place.
        pending = head
        for chunk in chunks:
            if memoryview(chunk).nbytes < COALESCE_BYTES:
                pending += chunk
            else:
                self.wfile.write(pending)
                self.wfile.write(chunk)
                pending = bytearray()
        if pending:
            self.wfile.write(pending)

    def send_error(self, code, message=None, explain=None, allow=None):
        """Error answers as MessagePack {"error": ...}; the connection is closed after
        them because the request body, if any, was not read."""
        text = f"HTTP {code}: {message or self.responses.get(code, ('error',))[0]}"
        # command and path are unset when the request line itself was malformed
        log.info("%s %s -> %s", getattr(self, "command", None), getattr(self, "path", None), text)
        try:
            self._send(code, encode_reply({"error": text}), close=True, allow=allow)
        except OSError:
            self.close_connection = True

    def log_message(self, format, *args):
        log.debug("%s " + format, self.address_string(), *args)
