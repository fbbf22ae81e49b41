"""Constants of the server. The install step adds build_config.py with the build's port."""

HOST = "127.0.0.1"

# The server exits after this long without a request and without work in hand,
# so that a server started by a plug-in does not linger once the host is gone.
IDLE_TIMEOUT_SECONDS = 600.0

# An idle keep-alive connection is closed after this long; clients reconnect.
KEEPALIVE_SECONDS = 120.0

# Largest request body accepted. The biggest frame a host hands over in practice
# (7680x4320, 3 float channels) is about 400 MB; anything past this is refused
# before a byte of it is buffered.
MAX_BODY_BYTES = 1 << 30

# Jobs queued or running at once; beyond this a new render is refused, so a
# runaway client cannot fill the memory with frames.
MAX_JOBS = 64

# A finished result that nobody collects is dropped after this long (the client
# gave up, for instance after its own time-out).
RESULT_TTL_SECONDS = 120.0
