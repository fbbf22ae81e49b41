"""python3 -m tevserver: options over environment variables over defaults, the
background start that returns once the server listens, and the refusals."""
import os
import signal
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from support import SERVER_SRC, ApiClient, start_server, wait_for

PYTHON = sys.executable


def tevserver(*args, env=None, timeout=30):
    environment = {"PYTHONPATH": str(SERVER_SRC), "PATH": os.environ.get("PATH", "")}
    environment.update(env or {})
    return subprocess.run([PYTHON, "-m", "tevserver", *args], env=environment, capture_output=True,
                          text=True, timeout=timeout)


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.dir = Path(folder.name)

    def stop(self, pid_file):
        pid = int(pid_file.read_text())
        os.kill(pid, signal.SIGTERM)
        self.assertTrue(wait_for(lambda: not pid_file.exists(), 10))

    def test_background_start_takes_variables_and_options_over_them(self):
        log, pid_file = self.dir / "server.log", self.dir / "server.pid"
        done = tevserver("--threads", "2", "--log", str(log),
                         env={"TEV_SERVER_PORT": "0", "TEV_SERVER_THREADS": "1", "TEV_SERVER_DEBUG": "1",
                              "TEV_SERVER_PROCESS": f"{SERVER_SRC}/examples/box_blur.py:BLUR",
                              "TEV_SERVER_IDLE_SECONDS": "30", "TEV_SERVER_PID_FILE": str(pid_file)})
        self.assertEqual(done.returncode, 0, done.stderr)
        port = int(done.stdout.split("127.0.0.1:")[1].split()[0])
        self.addCleanup(self.stop, pid_file)
        client = ApiClient(("127.0.0.1", port))
        self.addCleanup(client.close)
        self.assertEqual(client.call("open_tev_app"), {"result": {"ok": True}})
        text = log.read_text()
        self.assertIn("box blur on 2 thread(s), idle exit after 30 s", text)
        self.assertIn("DEBUG tevserver: options: port=0, memory_mb=1024", text)

    def test_the_default_log_is_in_a_private_folder_and_planted_links_are_not_followed(self):
        tmp, victim = self.dir / "tmp", self.dir / "victim"
        tmp.mkdir()
        victim.mkdir()
        planted = tmp / f"tevserver-{os.getuid()}"
        planted.symlink_to(victim)  # another user's link at the predictable name
        env = {"TMPDIR": str(tmp), "TEV_SERVER_PORT": "0", "TEV_SERVER_IDLE_SECONDS": "30"}

        def start(pid_file, **more):
            done = tevserver("--pid-file", str(pid_file), env=dict(env, **more))
            if done.returncode == 0:
                self.addCleanup(self.stop, pid_file)
            return done

        (victim / "kept").write_text("kept\n")
        (self.dir / "1.pid").symlink_to(victim / "kept")  # and at the pid file's
        done = start(self.dir / "1.pid")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual((victim / "kept").read_text(), "kept\n")
        self.assertFalse((self.dir / "1.pid").is_symlink())
        self.assertIn(f"not using {planted} for the log: it is a symbolic link", done.stderr)
        log = Path(done.stdout.split(", log ")[1].strip())
        self.assertEqual(log.parent.parent, tmp)
        self.assertEqual(log.parent.stat().st_mode & 0o777, 0o700)
        self.assertEqual([p.name for p in victim.iterdir()], ["kept"])

        planted.unlink()  # the folder is private now, and a link at the file's name is refused
        planted.mkdir(mode=0o700)
        (planted / "tevserver-0.log").symlink_to(victim / "file")
        done = start(self.dir / "2.pid")
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertIn("is a symbolic link, which is not followed", done.stderr)
        self.assertEqual([p.name for p in victim.iterdir()], ["kept"])

        runtime = self.dir / "runtime"
        runtime.mkdir(mode=0o700)
        done = start(self.dir / "3.pid", XDG_RUNTIME_DIR=str(runtime))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(f"log {runtime}/tevserver-0.log", done.stdout)

    def test_bad_settings_are_refused_with_what_is_wrong(self):
        taken = start_server(self).address[1]
        cases = [(("--foreground",), {"TEV_SERVER_MEMORY_MB": "lots"}, 2, "TEV_SERVER_MEMORY_MB: 'lots' is not"),
                 (("--foreground", "--port", "0", "--process", "nosuch:X"), {}, 1, "cannot import nosuch"),
                 (("--foreground", "--port", "0", "--process", "tevserver.adjust:TYPE_NAMES"), {}, 1,
                  "TYPE_NAMES is a dict, not a tevserver.Processing"),
                 (("--port", str(taken), "--log", str(self.dir / "l.log")), {}, 1,
                  "cannot listen on 127.0.0.1:%d: Address already in use" % taken),
                 (("--threads", "0"), {}, 2, "argument --threads: 0 is outside 1..256")]
        for args, env, status, text in cases:
            done = tevserver(*args, env=env)
            self.assertEqual(done.returncode, status, (args, done.stderr))
            self.assertIn(text, done.stderr, args)


if __name__ == "__main__":
    unittest.main()
