"""Runs a server of the kit for the conformance tests.

    reference_server.py SERVER_SOURCE_DIR [KIND]

KIND "reference" (the default) is the reference server. "lazy" is the same
processing, but a frame that the parameters leave as it is (brightness,
contrast and saturation 1) comes back without work, as its changes() says.
"unchanged" hands every frame back as it came, so each job is done at once.

Serves on a free port of 127.0.0.1, prints the port on a line of its own, and
stops when its standard input closes (the test closes it, or the test died).
"""
import logging
import sys

sys.path.insert(0, sys.argv[1])
from tevserver import Processing, Server  # noqa: E402
from tevserver.adjust import ADJUSTMENT, Adjustment  # noqa: E402


class Lazy(Adjustment):
    def changes(self, params):
        neutral = params.brightness == params.contrast == params.saturation == 1.0
        return super().changes(params) and not neutral


class Unchanged(Processing):
    name = "unchanged"

    def changes(self, params):
        return False


process = {"reference": ADJUSTMENT, "lazy": Lazy(), "unchanged": Unchanged()}[sys.argv[2] if len(sys.argv) > 2
                                                                               else "reference"]
logging.basicConfig(stream=sys.stderr, level=logging.WARNING,
                    format="reference server: %(levelname)s %(name)s: %(message)s")
server = Server(port=0, idle_timeout=600, process=process)
server.start()
print(server.address[1], flush=True)
sys.stdin.read()
server.stop()
