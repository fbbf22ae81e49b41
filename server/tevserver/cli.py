"""The command line: python3 -m tevserver [options] (see HELP below, or --help).

Each option has an environment variable, for launchers that cannot pass
arguments; a command-line option wins over its variable, the variable over the
default. Exit status: 0 after a normal exit (idle, signal) or, in the
background, once the server listens; 1 when it cannot start (port taken,
--process not found, log file unwritable); 2 for a bad option or variable.
"""
import argparse
import errno
import logging
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from . import settings

HELP = """\
Runs a processing server for the plug-in on 127.0.0.1: the reference adjustment
(brightness, contrast, saturation), or the Processing named by --process.

By default the server goes to the background once it listens and logs to the
--log file; --foreground keeps it in this terminal (log lines on standard
error unless --log is given; Ctrl-C stops it).

environment variables (an option on the command line wins):
  TEV_SERVER_PORT, TEV_SERVER_MEMORY_MB, TEV_SERVER_IDLE_SECONDS, TEV_SERVER_LOG,
  TEV_SERVER_PROCESS, TEV_SERVER_THREADS, TEV_SERVER_PID_FILE: as the options;
  TEV_SERVER_DEBUG=1, TEV_SERVER_FOREGROUND=1: as --debug and --foreground.

examples:
  python3 -m tevserver --foreground --port 7007
  python3 -m tevserver --process server/examples/box_blur.py:BLUR --port 7100 --log blur.log
"""

# Seconds a backgrounded server has to report that it listens.
READY_SECONDS = 30.0
TRUE_WORDS = ("1", "true", "yes", "on")
FALSE_WORDS = ("", "0", "false", "no", "off")


class Defaults:
    """Values used when neither an option nor its variable is given; the installed
    launcher passes the build's (build_config.py)."""

    def __init__(self, port=settings.PORT, memory_mb=settings.MEMORY_BUDGET_BYTES >> 20,
                 idle_seconds=settings.IDLE_TIMEOUT_SECONDS, log=None, debug=False,
                 process="tevserver.adjust:ADJUSTMENT", pid_file=None, port_served_is_done=False):
        self.port, self.memory_mb, self.idle_seconds = port, memory_mb, idle_seconds
        self.log, self.debug, self.process, self.pid_file = log, debug, process, pid_file
        # A launch (the plug-in's, a node service's) that finds a server
        # answering on its port has nothing to do: it exits 0 with one line.
        self.port_served_is_done = port_served_is_done


def _ranged(kind, low, high=None):
    def parse(text):
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r} is not a number") from None
        if value < low or (high is not None and value > high):
            raise argparse.ArgumentTypeError(
                f"{text} is outside {low}..{high}" if high is not None else f"{text} is below {low}")
        return value
    return parse


def parser(defaults=Defaults()):
    p = argparse.ArgumentParser(prog="python3 -m tevserver", description=HELP,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--port", type=_ranged(int, 0, 65535), metavar="N",
                   help=f"TCP port on 127.0.0.1, 0 for a free one (default {defaults.port})")
    p.add_argument("--memory-mb", type=_ranged(int, 16), metavar="MB",
                   help="MiB that request bodies, frames in jobs and uncollected results may hold "
                        f"together (default {defaults.memory_mb})")
    p.add_argument("--idle-seconds", type=_ranged(float, 0), metavar="S",
                   help="exit after this long without a request or a job, 0 never, as a node service "
                        f"(default {defaults.idle_seconds:g})")
    p.add_argument("--log", metavar="FILE",
                   help="log file, rotated at 3 MiB (default: "
                        + (defaults.log or "standard error in the foreground; in the background "
                                        "tevserver-PORT.log in $XDG_RUNTIME_DIR, or else in a private "
                                        "folder tevserver-UID of the temporary folder") + ")")
    p.add_argument("--debug", action="store_true", default=None,
                   help="log debug lines and the tracebacks of failed jobs")
    p.add_argument("--process", metavar="MODULE:NAME",
                   help="the Processing to serve: an importable module or a .py file, and the name of a "
                        "tevserver.Processing in it, or of a class or function that returns one "
                        f"(default {defaults.process})")
    p.add_argument("--threads", type=_ranged(int, 1, 256), metavar="N",
                   help=f"threads that process a frame's blocks of rows (default: one per core, {os.cpu_count()})")
    p.add_argument("--foreground", action="store_true", default=None,
                   help="stay in this terminal instead of going to the background once listening")
    p.add_argument("--pid-file", metavar="FILE", help="write the server's process id here while it runs")
    p.add_argument("--ready-fd", type=int, help=argparse.SUPPRESS)  # the backgrounding parent's pipe
    return p


_VARIABLES = {"port": "TEV_SERVER_PORT", "memory_mb": "TEV_SERVER_MEMORY_MB",
              "idle_seconds": "TEV_SERVER_IDLE_SECONDS", "log": "TEV_SERVER_LOG",
              "process": "TEV_SERVER_PROCESS", "threads": "TEV_SERVER_THREADS",
              "pid_file": "TEV_SERVER_PID_FILE", "debug": "TEV_SERVER_DEBUG",
              "foreground": "TEV_SERVER_FOREGROUND"}


def options(argv, defaults=Defaults(), environ=os.environ):
    """The parsed options: command line, then environment, then defaults. SystemExit(2)
    with a message for a bad option or variable."""
    p = parser(defaults)
    args = p.parse_args(argv)
    converters = {a.dest: a.type for a in p._actions if a.type is not None}
    for dest, variable in _VARIABLES.items():
        if getattr(args, dest) is not None or variable not in environ:
            continue
        text = environ[variable].strip()
        if dest in ("debug", "foreground"):
            if text.lower() not in TRUE_WORDS + FALSE_WORDS:
                p.error(f"{variable}={text!r}: expected 1 or 0")
            value = text.lower() in TRUE_WORDS
        elif dest in converters:
            try:
                value = converters[dest](text)
            except argparse.ArgumentTypeError as e:
                p.error(f"{variable}: {e}")
        else:
            value = text or None
        setattr(args, dest, value)
    for dest, value in (("port", defaults.port), ("memory_mb", defaults.memory_mb),
                        ("idle_seconds", defaults.idle_seconds), ("log", defaults.log),
                        ("debug", defaults.debug), ("process", defaults.process),
                        ("pid_file", defaults.pid_file), ("foreground", False)):
        if getattr(args, dest) is None:
            setattr(args, dest, value)
    args.port_served_is_done = defaults.port_served_is_done
    return args


def load_process(target):
    """processing.load, also for "path/to/file.py:NAME" (the file's folder joins sys.path)."""
    from .processing import load
    module, colon, name = target.rpartition(":")
    if colon and module.endswith(".py"):
        path = Path(module).resolve()
        if not path.is_file():
            raise ValueError(f"--process {target!r}: no file {path}")
        sys.path.insert(0, str(path.parent))
        target = f"{path.stem}:{name}"
    return load(target)


def _log_to(args):
    from . import logfile
    level = logging.DEBUG if args.debug else logging.INFO
    if args.log:
        logfile.log_to_file(args.log, settings.LOG_MAX_BYTES, settings.LOG_BACKUPS, level)
    else:
        handler = logging.StreamHandler()
        handler.setFormatter(logging.Formatter(logfile.FORMAT))
        logging.getLogger().addHandler(handler)
        logging.getLogger().setLevel(level)
        logging.captureWarnings(True)


def _say_ready(fd, text):
    if fd is not None:
        try:
            os.write(fd, text.encode())
            os.close(fd)
        except OSError:
            pass


def serve(args):
    """Runs the server in this process until it exits; the exit status."""
    _log_to(args)
    log = logging.getLogger("tevserver")
    log.debug("options: %s", ", ".join(f"{k}={v}" for k, v in vars(args).items() if k != "ready_fd"))
    try:
        process = load_process(args.process)
    except Exception as e:  # an import runs the module's code: any error may come
        log.error("%s", e)
        _say_ready(args.ready_fd, f"error: {e}\n")
        return 1
    from .server import Server
    try:
        server = Server(port=args.port, idle_timeout=args.idle_seconds, memory_budget=args.memory_mb << 20,
                        process=process, threads=args.threads)
    except OSError as e:
        if e.errno == errno.EADDRINUSE and args.port_served_is_done and _answers(args.port):
            # Two launches racing on one node: the one that lost the port has
            # nothing to do, and its launch did what was asked.
            log.info("a server already answers on port %d; this one (pid %d) exits", args.port, os.getpid())
            _say_ready(args.ready_fd, f"{args.port}\n")
            return 0
        text = f"cannot listen on {settings.HOST}:{args.port}: {e.strerror or e} (is a server already running?)"
        log.error("%s", text)
        _say_ready(args.ready_fd, f"error: {text}\n")
        return 1
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, lambda signum, frame: server.stop_on_signal(f"signal {signum}"))
    if args.pid_file:
        _write_pid_file(args.pid_file, log)
    try:
        server.start()
        _say_ready(args.ready_fd, f"{server.address[1]}\n")
        if args.log and sys.stderr.isatty():  # started by hand: say where it went
            print(f"tevserver: listening on {settings.HOST}:{server.address[1]} (pid {os.getpid()}), "
                  f"log {args.log}; Ctrl-C stops it", file=sys.stderr)
        while not server.wait(1.0):  # short waits keep signal handlers responsive
            pass
    finally:
        if args.pid_file:
            _remove_pid_file(args.pid_file)
    log.info("exited: %s", server.exit_reason)
    return 0


def _answers(port):
    try:
        socket.create_connection((settings.HOST, port), timeout=2).close()
        return True
    except OSError:
        return False


def _write_pid_file(path, log):
    # Written beside it and renamed over it: the file's folder may be shared
    # (Logs/), and a link another user put at its name is replaced, not followed.
    folder = os.path.dirname(os.path.abspath(path))
    try:
        fd, temporary = tempfile.mkstemp(prefix=".pid-", dir=folder)
    except OSError as e:
        log.warning("cannot write %s: %s", path, e)
        return
    try:
        with os.fdopen(fd, "w") as f:
            os.fchmod(f.fileno(), 0o644)
            f.write(f"{os.getpid()}\n")
        os.replace(temporary, path)
    except OSError as e:
        log.warning("cannot write %s: %s", path, e)
        try:
            os.remove(temporary)
        except OSError:
            pass


def _remove_pid_file(path):
    # Only our own: a later server may have taken the port and the file over.
    try:
        with open(path) as f:
            if f.read().strip() == str(os.getpid()):
                os.remove(path)
    except OSError:
        pass


def background(args):
    """Starts the server as a process of its own session, logging to a file, and returns
    once it listens (0) or has said why it cannot (1)."""
    from .logplace import check_log_file, default_log_path
    try:
        log = args.log or default_log_path(args.port)
    except OSError as e:
        print(f"tevserver: found no private folder for the log ({e}); name a file with --log",
              file=sys.stderr)
        return 1
    try:
        check_log_file(log, nofollow=not args.log)  # a link in a private folder is no one's wish
    except OSError as e:
        print(f"tevserver: cannot write the log file {log}: {e.strerror or e}", file=sys.stderr)
        return 1
    read, write = os.pipe()
    env = dict(os.environ)
    package_root = str(Path(__file__).resolve().parent.parent)
    env["PYTHONPATH"] = os.pathsep.join([package_root, os.getcwd()] +
                                        ([env["PYTHONPATH"]] if env.get("PYTHONPATH") else []))
    command = [sys.executable, "-m", "tevserver", "--foreground", "--log", log, "--ready-fd", str(write),
               "--port", str(args.port), "--memory-mb", str(args.memory_mb),
               "--idle-seconds", repr(args.idle_seconds), "--process", args.process]
    command += ["--threads", str(args.threads)] if args.threads else []
    command += ["--pid-file", args.pid_file] if args.pid_file else []
    command += ["--debug"] if args.debug else []
    try:
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, pass_fds=(write,), start_new_session=True, env=env)
    except OSError as e:
        print(f"tevserver: cannot start {sys.executable}: {e}", file=sys.stderr)
        return 1
    finally:
        os.close(write)
    said = b""
    with os.fdopen(read, "rb", buffering=0) as pipe:  # EOF once the child reports or exits
        deadline = time.monotonic() + READY_SECONDS
        while (left := deadline - time.monotonic()) > 0 and select.select([pipe], [], [], left)[0]:
            if not (piece := pipe.read(4096)):
                break
            said += piece
    said = said.decode(errors="replace").strip()
    if said.isdigit():
        print(f"tevserver: listening on {settings.HOST}:{said} (pid {child.pid}), log {log}")
        return 0
    if not said and child.poll() is None:
        said = f"no word from it after {READY_SECONDS:g} s (it goes on, as pid {child.pid})"
    print(f"tevserver: the server did not start: {said or 'it exited without a word'}; see {log}",
          file=sys.stderr)
    return 1


def main(argv=None, defaults=Defaults()):
    argv = sys.argv[1:] if argv is None else list(argv)
    args = options(argv, defaults)
    if args.foreground or args.ready_fd is not None:
        return serve(args)
    return background(args)


def run():
    """The installed `tevserver` command."""
    sys.exit(main())
