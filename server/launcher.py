"""Entry point of the installed server, as the plug-in starts it:

    <runtime> -I -c "import sys;sys.path.append('<server dir>');from launcher import launcher;launcher()"

with only PYTHONUNBUFFERED=1 in the environment (which -I ignores) and stdout
and stderr appended to launcher.log. The server logs into that same file through
a handler that rotates it by size (tevserver/logfile.py) and leaves stdout and
stderr quiet; with the build's debug switch on it logs tracebacks too.

A node service starts it the same way with TEV_SERVER_IDLE_SECONDS=0 added: it
then never exits for want of requests (another number of seconds replaces the
build's idle time). A launch that finds a server answering on the port exits
with status 0 and one log line.
"""
import errno
import logging
import os
import signal
import socket
import sys

IDLE_VARIABLE = "TEV_SERVER_IDLE_SECONDS"


def _write_pid_file(path):
    try:
        with open(path, "w") as f:
            f.write(f"{os.getpid()}\n")
    except OSError as e:
        logging.getLogger("tevserver").warning("cannot write %s: %s", path, e)


def _remove_pid_file(path):
    # Only our own: a later server may have taken the port and the file over.
    try:
        with open(path) as f:
            if f.read().strip() == str(os.getpid()):
                os.remove(path)
    except OSError:
        pass


def _idle_seconds(default, log):
    text = os.environ.get(IDLE_VARIABLE)
    if text is None:
        return default
    try:
        seconds = float(text)
        if seconds >= 0 and seconds != float("inf"):
            return seconds
    except ValueError:
        pass
    log.warning("%s=%r is not a number of seconds; the idle exit stays at %g s", IDLE_VARIABLE, text, default)
    return default


def _answers(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return True
    except OSError:
        return False


def launcher():
    from tevserver import Server, build_config, logfile, settings

    logfile.log_to_file(build_config.LOG_FILE, settings.LOG_MAX_BYTES, settings.LOG_BACKUPS,
                        logging.DEBUG if build_config.DEBUG_LOG else logging.INFO)
    log = logging.getLogger("tevserver")

    try:
        server = Server(port=build_config.PORT,
                        idle_timeout=_idle_seconds(build_config.IDLE_TIMEOUT_SECONDS, log),
                        memory_budget=build_config.MEMORY_BUDGET_MB << 20)
    except OSError as e:
        # Two launches racing on one node: the one that lost the port has
        # nothing to do, and its launch did what was asked.
        if e.errno == errno.EADDRINUSE and _answers(build_config.PORT):
            log.info("a server already answers on port %d; this one (pid %d) exits", build_config.PORT, os.getpid())
            sys.exit(0)
        log.error("cannot listen on 127.0.0.1:%d: %s (is a server already running?)",
                  build_config.PORT, e)
        sys.exit(1)

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, lambda signum, frame: server.request_stop(f"signal {signum}"))

    _write_pid_file(build_config.PID_FILE)
    try:
        server.serve()
    finally:
        _remove_pid_file(build_config.PID_FILE)
    log.info("exited: %s", server.exit_reason)
