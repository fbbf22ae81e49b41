"""The server's log file, rotated by size like the plug-in's log.

The plug-in's launcher appends the server's standard output and error to
Logs/launcher.log. The server writes its own lines to that same file through
a handler that rotates it (launcher.log -> launcher.log.1 -> ... .N) before a
line would take it past max_bytes. The standard descriptors that pointed at the
file are moved to the new file at each rotation, so that whatever the runtime
itself prints (a fatal error) lands in the current file and never grows a
rotated one.

Every render user of a node appends to that file, and any of them may replace
the folder's entries: each file the handler opens is made group-writable
whatever the umask, and a link or a device in its place is refused (a FIFO
only when someone reads it).
"""
import errno
import logging
import logging.handlers
import os
import stat
import sys

FORMAT = "%(asctime)s %(levelname)s %(name)s: %(message)s"


def _same_file(fd, path):
    try:
        a, b = os.fstat(fd), os.stat(path)
    except OSError:
        return False
    return (a.st_dev, a.st_ino) == (b.st_dev, b.st_ino)


def open_shared_log(path, encoding=None, errors=None):
    """path opened for appending as a log that all users of its folder's group write to."""
    fd = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC, 0o664)
    try:
        st = os.fstat(fd)
        if not (stat.S_ISREG(st.st_mode) or stat.S_ISFIFO(st.st_mode)):
            raise OSError(errno.EINVAL, "not a regular file", path)
        if st.st_uid == os.geteuid() and st.st_mode & 0o060 != 0o060:
            os.fchmod(fd, stat.S_IMODE(st.st_mode) | 0o060)
        os.set_blocking(fd, True)
        return open(fd, "a", encoding=encoding, errors=errors)
    except BaseException:
        os.close(fd)
        raise


class RotatingLogHandler(logging.handlers.RotatingFileHandler):
    def __init__(self, path, max_bytes, backups, standard_fds=(1, 2)):
        super().__init__(path, maxBytes=max_bytes, backupCount=backups, encoding="utf-8")
        # Only descriptors that write into this very file follow it (not a terminal).
        self._following = [fd for fd in standard_fds if _same_file(fd, path)]

    def _open(self):
        return open_shared_log(self.baseFilename, self.encoding, self.errors)

    def handleError(self, record):
        # A full or failing disk: one line on standard error, not a traceback per record.
        if not getattr(self, "_failed", False):
            self._failed = True
            error = sys.exc_info()[1]
            try:
                sys.stderr.write(f"tevserver: cannot write the log {self.baseFilename}: {error}; "
                                 "further lines that fail are dropped\n")
            except (OSError, ValueError):
                pass

    def doRollover(self):
        super().doRollover()
        if self.stream is None:
            return
        for fd in self._following:
            try:
                os.dup2(self.stream.fileno(), fd)
            except OSError:
                pass


def log_to_file(path, max_bytes, backups, level=logging.INFO):
    """Sends the root logger's lines to the rotating file at path (standard error
    when it cannot be opened) and Python's warnings with them."""
    try:
        handler = RotatingLogHandler(path, max_bytes, backups)
    except OSError as e:
        handler = logging.StreamHandler()
        handler.setFormatter(logging.Formatter(FORMAT))
        logging.getLogger().addHandler(handler)
        logging.getLogger("tevserver").warning("cannot open %s (%s); logging to standard error", path, e)
    else:
        handler.setFormatter(logging.Formatter(FORMAT))
        logging.getLogger().addHandler(handler)
    logging.getLogger().setLevel(level)
    logging.captureWarnings(True)
    return handler
