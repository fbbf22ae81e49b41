"""The render node's Debian package, built from the test tree: its files, control
data and maintainer scripts, then its tools run from an unpacked copy (dpkg -x),
the service command serving the tree's port. Nothing is installed on the machine.

Usage: test_package.py --deb-dir DIR --scratch DIR --maker DIR --port N --version V --group NAME"""
import argparse
import gzip
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import unittest
from pathlib import Path

ARGS = None


def run(*cmd, check=True, **kw):
    return subprocess.run([str(c) for c in cmd], check=check, capture_output=True, text=True, timeout=240, **kw)


def port_answers(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
        return True
    except OSError:
        return False


class DebianPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(ARGS.scratch)
        shutil.rmtree(cls.scratch, ignore_errors=True)
        cls.scratch.mkdir(parents=True)
        arch = run("dpkg", "--print-architecture").stdout.strip()
        cls.deb = Path(ARGS.deb_dir) / f"tev-bridge_{ARGS.version}_{arch}.deb"
        if not cls.deb.is_file():
            raise AssertionError(f"no {cls.deb.name} in {ARGS.deb_dir}: has package.build run?")
        cls.root = cls.scratch / "root"
        run("dpkg-deb", "-x", cls.deb, cls.root)
        cls.maker = ARGS.maker.lstrip("/")
        # dpkg-deb -c: mode, owner, size, date, time, path [-> target]
        cls.entries = {}
        for line in run("dpkg-deb", "-c", cls.deb).stdout.splitlines():
            fields = line.split(None, 5)
            cls.entries[fields[5].split(" -> ")[0].rstrip("/").removeprefix("./")] = fields[0]

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).stdout.strip()

    def test_it_holds_the_node_programs_the_plug_in_the_server_in_the_maker_folder_and_the_unit(self):
        expected = ["usr/bin/tev-host", "usr/bin/tev-conform", "usr/bin/tev-server-service",
                    "usr/lib/tev-bridge/ExamplePlugin.so", "usr/lib/systemd/system/tev-server.service",
                    f"{self.maker}/TEVORA/Server/launcher.py", f"{self.maker}/TEVORA/Server/tevserver/server.py",
                    f"{self.maker}/TEVORA/Server/tevserver/build_config.py",
                    f"{self.maker}/Render Engine/Python 3.10/bin/TEVORA Server"]
        for path in expected:
            self.assertIn(path, self.entries)
        commands = [p for p in self.entries if p.startswith("usr/bin/")]
        self.assertEqual(sorted(commands), ["usr/bin/tev-conform", "usr/bin/tev-farm-submit", "usr/bin/tev-host",
                                            "usr/bin/tev-server-service"])
        for program in commands:
            self.assertEqual(self.entries[program][:4], "-rwx", program)
            # Every command has its manual page, made at build time from its --help.
            name = program.removeprefix("usr/bin/")
            page = gzip.decompress((self.root / f"usr/share/man/man1/{name}.1.gz").read_bytes()).decode()
            self.assertIn(f'.TH {name.upper()} "1"', page)
            self.assertIn(f".SH NAME\n{name} \\- ", page)
        service_page = gzip.decompress((self.root / "usr/share/man/man1/tev-server-service.1.gz").read_bytes()).decode()
        self.assertIn(f"127.0.0.1:{ARGS.port}", service_page)
        doc = self.root / "usr/share/doc/tev-bridge"
        self.assertIn("License: Apache-2.0", (doc / "copyright").read_text())
        self.assertRegex(gzip.decompress((doc / "changelog.gz").read_bytes()).decode(),
                         rf"^tev-bridge \({re.escape(ARGS.version)}\) ")
        # Logs: group-writable and setgid, so files there stay the render group's.
        self.assertEqual(self.entries[f"{self.maker}/Logs"], "drwxrwsr-x")
        runtime = self.root / self.maker / "Render Engine" / "Python 3.10" / "bin" / "TEVORA Server"
        self.assertEqual(os.readlink(runtime), "/usr/bin/python3")
        self.assertIn(f"PORT = {ARGS.port}", (self.root / self.maker / "TEVORA/Server/tevserver/build_config.py").read_text())
        self.assertFalse([p for p in self.entries if "__pycache__" in p or p.endswith(".pyc")])

    def test_control_declares_the_libraries_and_the_server_runtime_and_postinst_makes_the_group(self):
        self.assertEqual(self.field("Package"), "tev-bridge")
        self.assertEqual(self.field("Version"), ARGS.version)
        depends = self.field("Depends")
        self.assertNotIn("util-linux", depends)  # essential: named without a version, Debian's checker objects
        self.assertNotRegex(self.field("Maintainer"), r"@localhost\b")
        for package in ("libcurl4", "libpng16-16", "libopenexr-3-1-30", "libstdc++6", "python3-msgpack",
                        "python3-numpy", "adduser"):
            self.assertRegex(depends, rf"(^|, ){re.escape(package)}( |,|$)")
        scripts = self.scratch / "control"
        run("dpkg-deb", "-e", self.deb, scripts)
        postinst = (scripts / "postinst").read_text()
        self.assertIn("addgroup --quiet --system \"$GROUP\"", postinst)
        self.assertIn(f"GROUP='{ARGS.group}'", postinst)
        self.assertIn('chmod 2775 "$LOGS"', postinst)
        for script in ("postinst", "prerm", "postrm"):
            self.assertTrue(os.access(scripts / script, os.X_OK), script)
            run("sh", "-n", scripts / script)

    def test_the_unit_runs_the_service_command_as_the_service_user_logging_to_the_journal(self):
        unit = (self.root / "usr/lib/systemd/system/tev-server.service").read_text()
        for line in ("ExecStart=/usr/bin/tev-server-service serve", "Restart=on-failure", f"Group={ARGS.group}",
                     "UMask=0002", "StandardOutput=journal", "StandardError=journal"):
            self.assertIn(line + "\n", unit)
        # Nothing that systemd opens as root in the render group's folder.
        self.assertNotIn("append:", unit)
        analyze = shutil.which("systemd-analyze")
        if analyze:
            # Checked against the unpacked tree: the program must exist and the quoting hold.
            unit_copy = self.scratch / "tev-server.service"
            unit_copy.write_text(unit.replace("/usr/bin/", f"{self.root}/usr/bin/").replace(ARGS.maker,
                                                                                         str(self.root / self.maker)))
            verdict = run(analyze, "verify", "--man=no", unit_copy, check=False)
            self.assertEqual((verdict.returncode, verdict.stdout + verdict.stderr), (0, ""))

    def test_unpacked_tools_run_and_tev_host_finds_the_installed_plug_in_by_name(self):
        bin_dir = self.root / "usr/bin"
        self.assertIn("usage:", run(bin_dir / "tev-host", "--help").stdout)
        self.assertIn("transport.post", run(bin_dir / "tev-conform", "--list").stdout)
        # From a folder without the plug-in: the name alone finds <root>/usr/lib/tev-bridge.
        params = run(bin_dir / "tev-host", "params", "ExamplePlugin.so", cwd=self.scratch)
        self.assertIn("Brightness", params.stdout)
        missing = run(bin_dir / "tev-host", "params", "NoSuchPlugin.so", cwd=self.scratch, check=False)
        self.assertNotEqual(missing.returncode, 0)

    def test_the_service_command_runs_the_unpacked_server_on_the_port_until_stopped(self):
        service = self.root / "usr/bin/tev-server-service"
        stop_servers_on_the_port()
        self.assertFalse(port_answers(ARGS.port), f"port {ARGS.port} is taken; a server left running blocks this test")
        Path(ARGS.maker, "Logs").mkdir(parents=True, exist_ok=True)
        self.addCleanup(run, service, "stop", check=False)

        self.assertEqual(run(service, "status", check=False).returncode, 3)
        started = run(service, "start", check=False)
        self.assertEqual(started.returncode, 0, started.stdout + started.stderr)
        supervisor, server = map(int, re.search(r"started \(pid (\d+)\); 127\.0\.0\.1:\d+ is served by pid (\d+)",
                                                started.stdout).groups())
        # The unpacked server, not one of the tree's maker folder, run as the caller.
        cmdline = Path(f"/proc/{server}/cmdline").read_bytes().decode()
        self.assertIn(str(self.root / self.maker / "TEVORA/Server"), cmdline)
        self.assertEqual(Path(f"/proc/{server}").stat().st_uid, os.getuid())
        self.assertIn(f"running (pid {supervisor}); 127.0.0.1:{ARGS.port} is served by pid {server}",
                      run(service, "status").stdout)
        self.assertIn("already running", run(service, "start").stdout)

        conform = run(self.root / "usr/bin/tev-conform", "--port", ARGS.port, "--only", "images.8bit", check=False)
        self.assertEqual(conform.returncode, 0, conform.stdout + conform.stderr)

        self.assertIn(f"stopped (pid {supervisor})", run(service, "stop").stdout)
        self.assertFalse(port_answers(ARGS.port))
        self.assertEqual(run(service, "status", check=False).returncode, 3)
        log = (Path(ARGS.maker) / "Logs" / "launcher.log").read_text(errors="replace")
        self.assertRegex(log, rf"\(pid {server}\), .*, no idle exit")


def stop_servers_on_the_port():
    """Stops a server an earlier test left on the tree's port (its pid file names it)."""
    pid_file = Path(ARGS.maker) / "Logs" / "server.pid"
    try:
        pid = int(pid_file.read_text())
        os.kill(pid, 15)
    except (OSError, ValueError):
        return
    deadline = time.monotonic() + 15
    while port_answers(ARGS.port) and time.monotonic() < deadline:
        time.sleep(0.05)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("deb-dir", "scratch", "maker", "version", "group"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--port", type=int, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
