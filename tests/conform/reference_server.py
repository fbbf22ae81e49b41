"""Runs the reference server for the conformance test.

    reference_server.py SERVER_SOURCE_DIR

Serves on a free port of 127.0.0.1, prints the port on a line of its own, and
stops when its standard input closes (the test closes it, or the test died).
"""
import logging
import sys

sys.path.insert(0, sys.argv[1])
from tevserver import Server  # noqa: E402

logging.basicConfig(stream=sys.stderr, level=logging.WARNING,
                    format="reference server: %(levelname)s %(name)s: %(message)s")
server = Server(port=0, idle_timeout=600)
server.start()
print(server.address[1], flush=True)
sys.stdin.read()
server.stop()
