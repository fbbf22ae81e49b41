"""Entry point of the installed server, as the plug-in starts it:

    <runtime> -I -c "import sys;sys.path.append('<server dir>');from launcher import launcher;launcher()"

with only PYTHONUNBUFFERED=1 in the environment (which -I ignores) and stdout
and stderr appended to launcher.log. The server logs into that same file through
a handler that rotates it by size (tevserver/logfile.py) and leaves stdout and
stderr quiet; with the build's debug switch on it logs tracebacks too.
"""
import logging
import os
import signal
import sys


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


def launcher():
    from tevserver import Server, build_config, logfile, settings

    logfile.log_to_file(build_config.LOG_FILE, settings.LOG_MAX_BYTES, settings.LOG_BACKUPS,
                        logging.DEBUG if build_config.DEBUG_LOG else logging.INFO)
    log = logging.getLogger("tevserver")

    try:
        server = Server(port=build_config.PORT, idle_timeout=build_config.IDLE_TIMEOUT_SECONDS,
                        memory_budget=build_config.MEMORY_BUDGET_MB << 20)
    except OSError as e:
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
