"""Processing-server kit: MessagePack over HTTP on the loopback interface.

    Server        the whole server: HTTP front, job board, idle exit (server.py)
    Processing    the extension point: what the server does to a frame (processing.py)
    adjust        the reference processing: brightness, contrast and saturation
    render        a frame's blocks of rows on a thread pool, progress and abort
    http_front    the HTTP/1.1 listener and its request handler
    protocol      the methods of the wire protocol, request map -> reply map
    jobs          queued jobs on worker threads, with progress and abort
    pool, budget  kept frame buffers and the memory budget
    image         the canonical image dictionary <-> numpy samples
    wire          MessagePack decoding of requests and encoding of replies
    cli           the command line, `python3 -m tevserver --help`
    logfile, logplace  the rotating log file; where a server in the background logs
"""
from .errors import RequestError
from .processing import Processing
from .render import RenderOptions
from .server import Server

__all__ = ["Processing", "RenderOptions", "RequestError", "Server"]
