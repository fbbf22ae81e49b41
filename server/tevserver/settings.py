"""Constants of the server. The install step adds build_config.py with the build's
port, idle time, memory budget, log switch and processing (CMake cache variables),
the installed launcher's defaults; the others are fixed here. Server() takes each
as a keyword, which is how the tests tune them."""

HOST = "127.0.0.1"

# The port of `python3 -m tevserver` without --port (the installed launcher
# passes the build's, build_config.PORT).
PORT = 7007

# The server exits after this long without a request and without work in hand,
# so that a server started by a plug-in does not linger once the host is gone.
IDLE_TIMEOUT_SECONDS = 600.0

# An idle keep-alive connection is closed after this long; clients reconnect.
KEEPALIVE_SECONDS = 120.0

# Once a request has begun, a connection that sends no byte for this long
# (in its request line, headers or body) is closed.
STALL_SECONDS = 10.0

# Largest request body accepted. The biggest frame a host hands over in practice
# (7680x4320, 3 float channels) is about 400 MB; a longer announcement is refused
# with 413 before a byte of it is read.
MAX_BODY_BYTES = 1 << 30

# Bytes that request bodies in progress, frames of queued and running jobs and
# finished results may hold together (CMake: TEV_SERVER_MEMORY_MB). 1 GiB fits
# about eight 4K (3840x2160) RGBA float frames in flight. A request that would
# go past it is answered 503 and the server goes on.
MEMORY_BUDGET_BYTES = 1 << 30

# Connections open at once; one more is answered 503 and closed at once.
MAX_CONNECTIONS = 64

# Jobs queued or running at once; beyond this a new render is refused, so a
# runaway client cannot fill the memory with frames.
MAX_JOBS = 64

# A get_result for a job that is still running waits up to this long for it to end
# before it answers "pending", when that job is the only one on the board: the
# result then leaves as soon as it is done, not at the client's next poll. It is
# shorter than the plug-in's poll cycle (10 ms), so the client polls as often as
# before, and it is not done when other jobs wait (a client whose render threads
# share one connection would wait for each other's polls).
POLL_HOLD_SECONDS = 0.008

# A finished result that nobody collects is dropped after this long (the client
# gave up, for instance after its own time-out).
RESULT_TTL_SECONDS = 120.0

# The server's log file rotates before a line would take it past this size,
# keeping this many rotated files (launcher.log.1 is the newest).
LOG_MAX_BYTES = 3 * 1024 * 1024
LOG_BACKUPS = 5
