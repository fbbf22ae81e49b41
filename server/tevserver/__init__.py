"""Reference processing server: MessagePack over HTTP on the loopback interface.

    Server        the whole server: HTTP front, job board, idle exit (server.py)
    http_front    the HTTP/1.1 listener and its request handler
    protocol      the methods of the wire protocol, request map -> reply map
    jobs          queued jobs on worker threads, with progress and abort
    render        the "render" function: parameters and the adjustment
    image         the canonical image dictionary <-> numpy samples
    wire          MessagePack decoding of requests and encoding of replies
"""
from .render import RenderOptions
from .server import Server

__all__ = ["RenderOptions", "Server"]
