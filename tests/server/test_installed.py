"""The installed layout, started exactly as the plug-in's launcher starts it, on the
build's port. Usage: test_installed.py --maker DIR --port N --install-script FILE --cmake EXE"""
import argparse
import os
import signal
import socket
import subprocess
import sys
import time
import unittest
from pathlib import Path

from support import ApiClient, expected_samples, image, params, samples_of

ARGS = None


def port_answers(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
        return True
    except OSError:
        return False


class InstalledServerTest(unittest.TestCase):
    def setUp(self):
        self.maker = Path(ARGS.maker)
        self.server_dir = self.maker / "TEVORA" / "Server"
        self.exe = self.maker / "Render Engine" / "Python 3.10" / "bin" / "TEVORA Server"
        self.log = self.maker / "Logs" / "launcher.log"
        self.pid_file = self.maker / "Logs" / "server.pid"

    def launch(self, env={"PYTHONUNBUFFERED": "1"}):
        """Spawns the server as the plug-in does: absolute executable, -I -c script,
        only PYTHONUNBUFFERED=1, cwd the server directory, output appended to launcher.log."""
        script = (f"import sys;sys.path.append('{self.server_dir}');"
                  "from launcher import launcher;launcher()")
        with open(self.log, "ab") as log, open(os.devnull, "rb") as null:
            child = subprocess.Popen([str(self.exe), "-I", "-c", script], executable=str(self.exe),
                                     env=env, cwd=self.server_dir,
                                     stdin=null, stdout=log, stderr=log, process_group=0)
        self.addCleanup(self.stop, child)
        return child

    def stop(self, child):
        if child.poll() is None:
            child.send_signal(signal.SIGTERM)
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()

    def test_install_is_idempotent_and_lays_out_the_maker_folder(self):
        for _ in range(2):
            subprocess.run([ARGS.cmake, "-P", ARGS.install_script], check=True, capture_output=True)
        self.assertTrue((self.server_dir / "launcher.py").is_file())
        self.assertTrue((self.server_dir / "tevserver" / "build_config.py").is_file())
        self.assertTrue(self.exe.is_symlink())
        self.assertEqual(os.readlink(self.exe), "/usr/bin/python3")
        self.assertTrue((self.maker / "Logs").is_dir())

    def wait_until_listening(self, child):
        deadline = time.monotonic() + 15
        while not port_answers(ARGS.port):
            self.assertIsNone(child.poll(), "the server exited at start; see launcher.log")
            self.assertLess(time.monotonic(), deadline, "the server did not start listening")
            time.sleep(0.05)

    def log_since(self, start):
        return self.log.read_bytes()[start:].decode()

    def test_launched_like_the_plug_in_it_serves_the_build_port_and_stops_cleanly(self):
        self.assertFalse(port_answers(ARGS.port),
                         f"port {ARGS.port} is already taken; a server left running blocks this test")
        log_start = self.log.stat().st_size if self.log.exists() else 0
        child = self.launch()
        self.wait_until_listening(child)

        client = ApiClient(("127.0.0.1", ARGS.port))
        self.addCleanup(client.close)
        samples = [0, 50, 100, 150, 200, 250]
        p = params(brightness=1.2, contrast=0.8, saturation=1.5)
        self.assertEqual(client.render("installed-1", image(2, 1, 3, 8, samples), p), {"status": "queued"})
        out = client.wait_result("installed-1")["result"]["result"]["image"]
        self.assertEqual(samples_of(out), expected_samples(samples, 3, 8, p))
        self.assertEqual(self.pid_file.read_text().strip(), str(child.pid))

        # A second launch while the first runs (two launches racing on a node)
        # ends at once, successfully, with one line; the first keeps its pid file.
        second = self.launch()
        self.assertEqual(second.wait(15), 0)
        self.assertEqual(self.pid_file.read_text().strip(), str(child.pid))

        child.send_signal(signal.SIGTERM)
        self.assertEqual(child.wait(10), 0)
        self.assertFalse(self.pid_file.exists())
        written = self.log_since(log_start)
        self.assertIn(f"listening on 127.0.0.1:{ARGS.port} (pid {child.pid}), ", written)
        self.assertIn("idle exit after", written)
        self.assertIn(f"a server already answers on port {ARGS.port}; this one (pid {second.pid}) exits", written)
        self.assertNotIn("cannot listen", written)
        self.assertIn("signal", written)

    def test_the_idle_variable_of_a_node_service_turns_the_idle_exit_off_and_a_bad_one_is_named(self):
        self.assertFalse(port_answers(ARGS.port), f"port {ARGS.port} is already taken")
        log_start = self.log.stat().st_size if self.log.exists() else 0
        child = self.launch({"PYTHONUNBUFFERED": "1", "TEV_SERVER_IDLE_SECONDS": "0"})
        self.wait_until_listening(child)
        child.send_signal(signal.SIGTERM)
        self.assertEqual(child.wait(10), 0)
        self.assertRegex(self.log_since(log_start), rf"\(pid {child.pid}\), .*, no idle exit,")

        # A bad value is refused with its name, so a misconfigured service fails visibly.
        log_start = self.log.stat().st_size
        child = self.launch({"PYTHONUNBUFFERED": "1", "TEV_SERVER_IDLE_SECONDS": "soon"})
        self.assertEqual(child.wait(15), 2)
        self.assertIn("TEV_SERVER_IDLE_SECONDS: 'soon' is not a number", self.log_since(log_start))
        self.assertFalse(port_answers(ARGS.port))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--maker", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--install-script", required=True)
    parser.add_argument("--cmake", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
