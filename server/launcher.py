"""Entry point of the installed server, as the plug-in starts it:

    <runtime> -I -c "import sys;sys.path.append('<server dir>');from launcher import launcher;launcher()"

with only PYTHONUNBUFFERED=1 in the environment (which -I ignores) and stdout
and stderr appended to launcher.log. It runs the command line of the tevserver
package (python3 -m tevserver) in the foreground with the build's settings as
defaults (tevserver/build_config.py: port, idle time, memory budget, debug log,
processing, log and pid file); TEV_SERVER_* variables and arguments, where
someone runs it by hand (python3 launcher.py --help), go over them.

A node service starts it the same way with TEV_SERVER_IDLE_SECONDS=0 added: it
then never exits for want of requests. A launch that finds a server answering
on the port exits with status 0 and one log line.
"""
import sys


def launcher(argv=None):
    from tevserver import build_config
    from tevserver.cli import Defaults, main

    defaults = Defaults(port=build_config.PORT, memory_mb=build_config.MEMORY_BUDGET_MB,
                        idle_seconds=build_config.IDLE_TIMEOUT_SECONDS, log=build_config.LOG_FILE,
                        debug=build_config.DEBUG_LOG, process=build_config.PROCESS,
                        pid_file=build_config.PID_FILE, port_served_is_done=True)
    argv = sys.argv[1:] if argv is None else argv
    status = main(["--foreground", *argv], defaults)
    if status:
        sys.exit(status)


if __name__ == "__main__":
    launcher()
