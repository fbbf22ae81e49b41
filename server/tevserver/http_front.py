"""The HTTP/1.1 front: one MessagePack body per POST to "/api", keep-alive.

Status codes: 200 for every request to POST /api whose body arrived, also when
the reply is an "error" (so that the client reports it rather than retrying);
404 for any other path, 405 for another method on /api, 411 without a
Content-Length, 413 for a body above the size cap, 431 for header lines that
are too long or too many, 503 when the memory budget or the connection limit
is reached, 400/501/505 for malformed HTTP (a repeated Content-Length, one
beside a Transfer-Encoding, anything but digits in it). Every body is
MessagePack, an error one being {"error": "..."} with a text that says why;
after an HTTP error the connection is closed.

A body is read as it arrives into a buffer charged to the memory budget, never
allocated from its announced length, and is answered only once it is complete
(a body cut short is dropped with its connection). Between requests a
connection may stay silent for the keep-alive time; once a request has begun, a pause of the stall
time in its line, headers, body or reply closes it.
"""
from dataclasses import dataclass
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
import logging
import socket
import threading
import time
from urllib.parse import urlsplit

from .budget import BudgetExceeded
from .errors import RequestError, describe
from .mapped import GrowingBuffer
from .wire import decode_request, encode_reply, scan

log = logging.getLogger("tevserver.http")

API_PATH = "/api"
CONTENT_TYPE = "application/x-msgpack"
# Buffers handed to one sendmsg at most (the system's IOV_MAX is 1024).
GATHER_MAX = 64
# A body of unknown size is read into a first buffer of this size (see _read_growing).
READ_PIECE_BYTES = 256 * 1024
# After an error answered before the body was read, the connection reads and drops
# what the client still sends for up to this long, so that closing it does not reset
# the connection under the client before it has read the answer.
LINGER_SECONDS = 1.0


@dataclass(frozen=True)
class Received:
    """A request body as the protocol sees it: its size and the pool's Loan it is in (or None).
    A job that keeps a view into the body holds the loan."""
    nbytes: int
    loan: object


def send_gathered(sock, buffers):
    """Sends the buffers one after another with as few sendmsg calls as the socket takes."""
    views = [memoryview(b).cast("B") for b in buffers if memoryview(b).nbytes]
    while views:
        sent = sock.sendmsg(views[:GATHER_MAX])
        while sent:
            if sent < views[0].nbytes:
                views[0] = views[0][sent:]
                break
            sent -= views.pop(0).nbytes


class _ClientLeft(Exception):
    """The client closed its side before its body was complete."""


class ApiHTTPServer(ThreadingHTTPServer):
    """Threaded listener that tracks its connections (to close them on shutdown)
    and the time of the last request (for the idle exit)."""

    daemon_threads = True
    request_queue_size = 64

    def __init__(self, address, app, budget, pool, limits):
        self.app = app            # app.handle(request object, after_reply list, Received) -> reply map
        self.budget = budget      # MemoryBudget shared with the job board
        self.pool = pool          # FramePool: a body of a pooled size is read into a kept buffer
        self.max_body = limits.max_body
        self.keepalive = limits.keepalive
        self.stall = limits.stall
        self.max_connections = limits.max_connections
        self.activity = Activity()
        self._connections = set()
        self._connections_lock = threading.Lock()
        self._open = 0
        super().__init__(address, ApiHandler)

    def track(self, sock, alive):
        with self._connections_lock:
            (self._connections.add if alive else self._connections.discard)(sock)

    def process_request(self, request, client_address):
        with self._connections_lock:
            full = self._open >= self.max_connections
            if not full:
                self._open += 1
        if full:
            self._refuse_connection(request)
            return
        super().process_request(request, client_address)

    def shutdown_request(self, request):
        # Called once for every connection that process_request let through.
        super().shutdown_request(request)
        with self._connections_lock:
            self._open -= 1

    def _refuse_connection(self, sock):
        text = (f"HTTP 503: server busy: {self.max_connections} connections are open, "
                "the most it serves at once; try again")
        log.info("connection refused: %s", text)
        body = b"".join(encode_reply({"error": text}))
        head = (f"HTTP/1.1 503 Service Unavailable\r\nContent-Type: {CONTENT_TYPE}\r\n"
                f"Content-Length: {len(body)}\r\nConnection: close\r\n\r\n").encode("latin-1")
        try:
            sock.settimeout(1.0)
            sock.sendall(head + body)
            sock.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        sock.close()

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
        if getattr(self, "_linger", False):
            self._drain()
        self.server.track(self.connection, False)
        try:
            super().finish()
        except OSError:
            pass

    def handle_one_request(self):
        # Silent for up to the keep-alive time between requests; once the next
        # one begins, every pause counts against the stall time.
        self.connection.settimeout(self.server.keepalive)
        try:
            if not self.rfile.peek(1):
                self.close_connection = True
                return
        except (TimeoutError, OSError):
            self.close_connection = True
            return
        self.connection.settimeout(self.server.stall)
        try:
            super().handle_one_request()
        except (TimeoutError, OSError) as e:
            log.info("connection closed: %s", describe(e))
            self.close_connection = True

    def _drain(self):
        try:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_WR)
            deadline = time.monotonic() + LINGER_SECONDS
            while (left := deadline - time.monotonic()) > 0:
                self.connection.settimeout(left)
                if not self.connection.recv(65536):
                    break
        except OSError:
            pass

    # --- routing -------------------------------------------------------------
    def _path(self):
        return urlsplit(self.path).path

    def _content_length(self):
        """The announced body length, or None after answering why it is unusable."""
        lengths = self.headers.get_all("Content-Length", [])
        encodings = self.headers.get_all("Transfer-Encoding", [])
        if encodings and lengths:
            self.send_error(400, "a request may carry Content-Length or Transfer-Encoding, not both")
            return None
        if encodings:
            self.send_error(411, f"Transfer-Encoding {', '.join(encodings)!r} is not accepted "
                                 "(no chunked bodies); send a Content-Length")
            return None
        if not lengths:
            self.send_error(411, "POST /api needs a Content-Length")
            return None
        if len(lengths) > 1:
            self.send_error(400, f"Content-Length appears {len(lengths)} times "
                                 f"({', '.join(map(repr, lengths))}); send it once")
            return None
        raw = lengths[0].strip()
        if not (raw.isascii() and raw.isdigit()):
            self.send_error(400, f"bad Content-Length {lengths[0]!r}: not a decimal number of bytes")
            return None
        length = int(raw)
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
        budget = self.server.budget
        charges = [0]       # bytes taken from the budget for this request
        after_reply = []    # callables that let go of what the reply holds
        loan = None         # the pool's buffer the body was read into, if any
        try:
            body, loan = self._read_body(length, charges)
            if body is None:
                return
            reply = self._dispatch(body, Received(len(body), loan), charges, after_reply)
            if reply is None:
                return
            try:
                self._send(200, encode_reply(reply))
            except OSError as e:
                log.info("client left before its reply was sent: %s", describe(e))
                self.close_connection = True
        finally:
            for release in after_reply:
                release()
            if loan is not None:
                loan.release()
            budget.give_back(charges[0])
            self.server.activity.end()

    def do_GET(self):
        self._refuse_route()

    do_HEAD = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = do_GET

    # --- body in, reply out --------------------------------------------------
    def _read_body(self, length, charges):
        """(body, loan): the whole body and the pool's Loan it lives in (None for a buffer of
        its own), or (None, None) after a stall, the client's leaving or a full budget
        (answered 503). A body is never handed on unless every byte of it arrived."""
        loan = self.server.pool.lend_pooled(length)
        try:
            if loan is not None:
                self.server.budget.take(length, f"a {length}-byte request body")
                charges[0] += length
                return self._read_into(loan.array), loan
            return self._read_growing(length, charges), None
        except BudgetExceeded as e:
            self.send_error(503, str(e))
        except (TimeoutError, OSError) as e:
            self.close_connection = True
            log.info("a %d-byte body closed before its end: %s", length,
                     f"no byte for {self.server.stall:g} s" if isinstance(e, TimeoutError) else describe(e))
        except _ClientLeft as e:
            self.close_connection = True
            log.info("%s", e)
        if loan is not None:
            loan.release()
        return None, None

    def _read_into(self, body, start=0, stop=None):
        """Fills body[start:stop] from the socket; _ClientLeft when the client leaves first."""
        stop = len(body) if stop is None else stop
        got = start
        with memoryview(body) as view:
            while got < stop:
                n = self.rfile.readinto1(view[got:stop])
                if not n:
                    raise _ClientLeft(f"client left after {got} body bytes")
                got += n
        return body

    def _read_growing(self, length, charges):
        """Reads a body into one buffer that grows to twice what has arrived (at most the
        body's length), so a client holds no more than twice what it has sent. The buffer
        is a mapping of its own, moved (mremap: not copied) to exact sizes, each charged
        before it is taken: the charge is what the buffer holds."""
        budget = self.server.budget
        got, size = 0, min(length, READ_PIECE_BYTES)
        budget.take(size, f"a {length}-byte request body")
        charges[0] += size
        body = GrowingBuffer(size)
        while True:
            with body.view(got, size) as view:
                self._read_into(view)
            if size == length:
                return body.array()
            got, size = size, min(length, 2 * size)
            budget.take(size - got, f"a {length}-byte request body")
            charges[0] += size - got
            body.resize(size)

    def _dispatch(self, body, received, charges, after_reply):
        """The reply map of a body, or None once an HTTP error was answered. The request's
        frame is a view into body: a job that keeps it holds its own charge for it."""
        try:
            plan = scan(body)
            self.server.budget.take(plan.size, "decoding the request")
            charges[0] += plan.size
            return self.server.app.handle(decode_request(body, plan), after_reply, received)
        except BudgetExceeded as e:
            self.send_error(503, str(e))
            return None
        except RequestError as e:
            return {"error": str(e)}
        except Exception as e:  # a fault of ours must cost one reply, not the server
            log.error("internal error: %s", describe(e))
            log.debug("internal error", exc_info=True)
            return {"error": f"internal server error: {describe(e)}"}

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
        head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
        # The headers and every part in one gather write: a pixel block leaves from the
        # result's own buffer, never copied into a reply.
        send_gathered(self.connection, [head, *chunks])

    def send_error(self, code, message=None, explain=None, allow=None):
        """Error answers as MessagePack {"error": ...}; the connection is closed after
        them because the request body, if any, was not read."""
        text = f"HTTP {code}: {message or self.responses.get(code, ('error',))[0]}"
        # command and path are unset when the request line itself was malformed
        log.info("%s %s -> %s", getattr(self, "command", None), getattr(self, "path", None), text)
        try:
            self._send(code, encode_reply({"error": text}), close=True, allow=allow)
            self._linger = True
        except OSError:
            self.close_connection = True

    def log_message(self, format, *args):
        log.debug("%s " + format, self.address_string(), *args)
