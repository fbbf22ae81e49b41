"""The render node's package installed for real, as root, in a scratch root:
an overlay over / chrooted into, in private mount, pid and network namespaces,
so that dpkg's database, the users and groups the maintainer scripts make and
every process vanish with the test. Without systemd as pid 1, the service runs
through the plain command; the unit's `serve` is run as systemd would.

Usage: test_package_root.py --deb-dir DIR --scratch DIR --sample-clip EXE --maker DIR --port N --group NAME --service-user NAME
Exit status 77 (skipped) when not root or when the namespaces cannot be made."""
import argparse
import ctypes
import grp
import os
import pwd
import re
import shutil
import signal
import stat
import subprocess
import sys
import time
import unittest
from pathlib import Path

SKIP = 77
PR_SET_PDEATHSIG = 1
RENDER_USERS = ("tev-artist1", "tev-artist2")
SERVICE = "/usr/bin/tev-server-service"
# The test's own files in the scratch root (render users' homes, the clip).
PLACE = Path("/tmp/tev-package-root")
ARGS = None


def run(*cmd, check=True, **kw):
    done = subprocess.run([str(c) for c in cmd], capture_output=True, text=True, timeout=120, **kw)
    if check and done.returncode != 0:
        raise AssertionError(f"{' '.join(map(str, cmd))} exited {done.returncode}:\n{done.stdout}{done.stderr}")
    return done


def as_user(user, *cmd, **kw):
    """Runs cmd as user with the groups of user and a umask of 022, in a clean environment."""
    return run("setpriv", f"--reuid={user}", f"--regid={pwd.getpwnam(user).pw_gid}", "--init-groups",
               "env", "-i", "PATH=/usr/bin:/bin", f"HOME={PLACE}/{user}", "sh", "-c", 'umask 022; exec "$@"', "-",
               *cmd, **kw)


def listener():
    """(pid, uid) of the process listening on the port, or None."""
    port = f"{ARGS.port:04X}"
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        for line in Path(table).read_text().splitlines()[1:]:
            fields = line.split()
            if fields[3] == "0A" and fields[1].endswith(":" + port):
                inode = f"socket:[{fields[9]}]"
                for fd in Path("/proc").glob("[0-9]*/fd/*"):
                    try:
                        if os.readlink(fd) == inode:
                            return int(fd.parts[2]), int(fields[7])
                    except OSError:
                        pass
                return None, int(fields[7])
    return None


def wait_for(condition, what, seconds=30):
    deadline = time.monotonic() + seconds
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise AssertionError(f"after {seconds} s: {what}")
        time.sleep(0.1)
    return value


def uid(user):
    return pwd.getpwnam(user).pw_uid


class InstalledPackageTest(unittest.TestCase):
    """The package installed once, by the maintainer scripts of a fresh install;
    each test leaves no server running."""

    @classmethod
    def setUpClass(cls):
        cls.logs = Path(ARGS.maker) / "Logs"
        cls.deb, cls.newer = Path(ARGS.deb), Path(ARGS.newer_deb)
        clip = PLACE / "clip"
        run(ARGS.sample_clip, clip, "--frames", "1", "--size", "64x36")
        cls.frame = next(clip.glob("png8/*.png"))
        run("dpkg", "-i", cls.deb)
        for user in RENDER_USERS:
            run("useradd", "--create-home", "--home-dir", PLACE / user, user)
            run("adduser", "--quiet", user, GROUP)

    def tearDown(self):
        if Path(SERVICE).exists():
            self.service("stop", check=False)
        if found := listener():
            os.kill(found[0], 9)
            wait_for(lambda: listener() is None, "the port freed")

    def service(self, *words, check=True):
        return run(SERVICE, *words, check=check)

    def test_install_upgrade_and_reinstall_keep_the_service_and_purge_removes_it(self):
        if run("dpkg-query", "-W", "-f=${Version}", "tev-bridge").stdout.endswith("+1"):
            run("dpkg", "-i", self.deb)
        logs = self.logs.stat()
        self.assertEqual((stat.S_IMODE(logs.st_mode), logs.st_uid, logs.st_gid), (0o2775, 0, grp.getgrnam(GROUP).gr_gid))
        self.assertIn(GROUP, run("id", "-nG", SERVICE_USER).stdout.split())
        self.assertIsNone(listener(), "the package started a server on a fresh install without systemd")

        self.service("start")
        pid, owner = wait_for(listener, "the service's server on the port")
        self.assertEqual(owner, uid(SERVICE_USER))
        # Render users' plug-ins launch their servers into the same log.
        log = (self.logs / "launcher.log").stat()
        self.assertEqual((log.st_uid, log.st_gid, log.st_mode & 0o060), (uid(SERVICE_USER), logs.st_gid, 0o060))
        for deb, what in ((self.newer, "upgrade"), (self.newer, "reinstall")):
            run("dpkg", "-i", deb)
            new_pid, owner = wait_for(listener, f"a server on the port after the {what}", 15)
            self.assertNotEqual(new_pid, pid, f"the {what} did not restart the server")
            self.assertEqual(owner, uid(SERVICE_USER))
            pid = new_pid
        self.assertTrue(run("dpkg-query", "-W", "-f=${Version}", "tev-bridge").stdout.endswith("+1"))
        self.assertRegex(self.service("status").stdout,
                         rf"running \(pid \d+\); 127\.0\.0\.1:{ARGS.port} is served by pid {pid} "
                         rf"\(user {SERVICE_USER}\), the node service's server")

        run("dpkg", "--purge", "tev-bridge")
        self.addCleanup(run, "dpkg", "-i", self.deb)
        wait_for(lambda: listener() is None, "the port freed by the purge", 20)
        for gone in (Path(SERVICE), Path(ARGS.maker), Path("/run/tev-server")):
            self.assertFalse(gone.exists(), gone)

    def test_links_a_render_user_plants_in_logs_leave_roots_files_alone(self):
        victims = {name: Path("/etc") / f"tev-victim-{name}" for name in ("pid", "log", "server-pid", "absent")}
        for victim in list(victims.values())[:-1]:
            victim.write_text("root's own\n")
            victim.chmod(0o600)
        before = {victim: victim.stat() for victim in victims.values() if victim.exists()}
        planted = {"tev-server-service.pid": "pid", ".tev-server-service.lock": "absent",
                   "launcher.log": "log", "server.pid": "server-pid"}
        for name, victim in planted.items():
            as_user(RENDER_USERS[0], "ln", "-sfn", victims[victim], self.logs / name)

        started = self.service("start", check=False)
        self.service("status", check=False)
        run("dpkg", "-i", self.newer)       # prerm stops the service, postinst starts it
        self.service("restart", check=False)
        self.service("stop", check=False)

        self.assertFalse(victims["absent"].exists())
        for victim, was in before.items():
            now = victim.stat()
            self.assertEqual((victim.read_text(), now.st_mode, now.st_uid, now.st_mtime_ns),
                             ("root's own\n", was.st_mode, was.st_uid, was.st_mtime_ns), victim)
        # The service ran all the same, its log made afresh.
        self.assertEqual(started.returncode, 0, started.stdout + started.stderr)
        self.assertFalse((self.logs / "launcher.log").is_symlink())

    def test_render_users_take_turns_on_a_node_without_the_service(self):
        # A node where neither the service nor anyone rendered left a log.
        for log in self.logs.iterdir():
            log.unlink()
        for turn, user in enumerate(RENDER_USERS + RENDER_USERS[:1]):
            out = PLACE / user / f"out{turn}.png"
            rendered = as_user(user, "tev-host", "render", "ExamplePlugin.so", "--in", self.frame,
                               "--out", out, "--retries", "0", check=False, cwd=f"{PLACE}/{user}")
            self.assertEqual(rendered.returncode, 0, f"{user}, turn {turn}:\n{rendered.stdout}{rendered.stderr}")
            self.assertNotIn("Log failed", rendered.stdout + rendered.stderr)
            self.assertTrue(out.is_file())
            # The plug-in launched the server as this user; the next user finds none.
            pid, owner = wait_for(listener, "the server the plug-in launched")
            self.assertEqual(owner, uid(user))
            os.kill(pid, 15)
            wait_for(lambda: listener() is None, "the port freed")
        for log in self.logs.iterdir():
            mode = log.stat()
            self.assertTrue(mode.st_mode & stat.S_IWGRP and mode.st_gid == self.logs.stat().st_gid,
                            f"{log.name}: {stat.filemode(mode.st_mode)} group {mode.st_gid}")

    def test_the_service_waits_while_another_server_holds_the_port_then_takes_it(self):
        holder = subprocess.Popen(
            ["setpriv", f"--reuid={RENDER_USERS[0]}", f"--regid={pwd.getpwnam(RENDER_USERS[0]).pw_gid}", "--clear-groups",
             "python3", "-c",
             "import socket,sys;s=socket.socket();s.bind(('127.0.0.1',int(sys.argv[1])));s.listen();"
             "print(flush=True);sys.stdin.read()", str(ARGS.port)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.kill)
        holder.stdout.readline()
        # What the unit runs, as the unit runs it.
        journal = PLACE / "journal"
        with journal.open("w") as out:
            unit = subprocess.Popen(["setpriv", f"--reuid={SERVICE_USER}", f"--regid={GROUP}", "--init-groups",
                                     SERVICE, "serve"], stdout=out, stderr=subprocess.STDOUT, cwd="/")
        self.addCleanup(unit.kill)
        wait_for(lambda: "waiting for the port" in journal.read_text(), "the service saying it waits")
        # The service's user may not see another user's processes; root may.
        self.assertIn(f"served by a process of user {RENDER_USERS[0]}", journal.read_text())
        self.assertEqual(listener()[0], holder.pid)
        status = self.service("status", check=False)
        self.assertEqual(status.returncode, 3)
        self.assertIn(f"served by pid {holder.pid} (user {RENDER_USERS[0]}), not the node service", status.stdout)

        holder.stdin.close()
        holder.wait(10)
        pid, owner = wait_for(lambda: (found := listener()) and found[0] != holder.pid and found,
                              "the service taking the port over")
        self.assertEqual(owner, uid(SERVICE_USER))
        self.assertIn(f"pid {pid} (user {SERVICE_USER}), the node service's server (service pid {unit.pid})",
                      self.service("status", check=False).stdout)
        unit.terminate()
        self.assertEqual(unit.wait(20), 0, journal.read_text())
        wait_for(lambda: listener() is None, "the port freed when the unit stops")

    def test_the_service_command_names_its_failures_and_an_unpacked_copy_runs_as_its_caller(self):
        server_dir = Path(ARGS.maker) / "TEVORA"
        server_dir.chmod(0o700)
        refused = self.service("start", check=False)
        server_dir.chmod(0o755)
        self.assertEqual(refused.returncode, 1)
        self.assertIn(f"the service user {SERVICE_USER} cannot read {server_dir}/Server/launcher.py", refused.stderr)

        # A copy unpacked where the service user cannot enter, as the package test does
        # (in a private folder: dpkg-deb -x opens the copy's own top folder to all).
        private = PLACE / "private"
        private.mkdir(mode=0o700)
        copy = private / "copy"
        run("dpkg-deb", "-x", self.deb, copy)
        started = run(copy / "usr/bin/tev-server-service", "start", check=False)
        self.addCleanup(run, copy / "usr/bin/tev-server-service", "stop", check=False)
        self.assertEqual(started.returncode, 0, started.stdout + started.stderr)
        self.assertEqual(wait_for(listener, "the copy's server")[1], 0)


def build_newer(deb, scratch):
    """The same package with a higher version, as a later build would be."""
    tree = scratch / "newer"
    run("dpkg-deb", "-R", deb, tree)
    control = tree / "DEBIAN" / "control"
    control.write_text(re.sub(r"^Version: (.*)$", r"Version: \1+1", control.read_text(), flags=re.M))
    newer = scratch / "newer.deb"
    run("dpkg-deb", "-Zgzip", "--build", tree, newer)
    shutil.rmtree(tree)
    return newer


def outside():
    if os.geteuid() != 0:
        print("skipped: installing the package needs root")
        return SKIP
    scratch = Path(ARGS.scratch)
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir(parents=True)
    deb = next(Path(ARGS.deb_dir).glob("tev-bridge_*.deb"))
    newer = build_newer(deb, scratch)
    probe = run("unshare", "--mount", "--pid", "--fork", "--net", "ip", "link", "set", "lo", "up", check=False)
    if probe.returncode != 0:
        print(f"skipped: cannot make mount, pid and network namespaces: {probe.stderr.strip()}")
        return SKIP
    try:
        # Should this process die, so does unshare, and with it (--kill-child)
        # every process in the namespaces.
        inside = subprocess.run(["unshare", "--mount", "--propagation", "private", "--pid", "--fork", "--net",
                                 "--kill-child", sys.executable, "-B", __file__, "--inside", "--deb", str(deb),
                                 "--newer-deb", str(newer), *sys.argv[1:]], timeout=270,
                                preexec_fn=lambda: ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGKILL))
        return inside.returncode
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def inside():
    """Pid 1 of the namespaces: makes the scratch root, enters it and runs the tests."""
    scratch = Path(ARGS.scratch)
    root, upper, work = scratch / "root", scratch / "upper", scratch / "work"
    for folder in (root, upper, work):
        folder.mkdir()
    mounted = run("mount", "-t", "overlay", "overlay", "-o", f"lowerdir=/,upperdir={upper},workdir={work}", root,
                  check=False)
    if mounted.returncode != 0:
        print(f"skipped: cannot mount an overlay over /: {mounted.stderr.strip()}")
        return SKIP
    run("mount", "--rbind", "/dev", root / "dev")
    run("mount", "-t", "proc", "proc", root / "proc")
    run("mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", root / "run")
    os.chroot(root)
    os.chdir("/")
    os.environ.update(PATH="/usr/sbin:/usr/bin:/sbin:/bin", DEBIAN_FRONTEND="noninteractive")
    run("ip", "link", "set", "lo", "up")
    shutil.rmtree(PLACE, ignore_errors=True)
    PLACE.mkdir(mode=0o755)
    # Render users must reach the build tree's maker folder (changes stay in the overlay).
    for folder in Path(ARGS.maker).parents:
        if folder != Path("/"):
            folder.chmod(folder.stat().st_mode | 0o005)
    # dpkg without a sync per file, nor the manual pages' index rebuilt by
    # man-db's trigger at every install: slow, and of no use here.
    Path("/etc/dpkg/dpkg.cfg.d/tev-package-test").write_text("force-unsafe-io\n")
    Path("/var/lib/man-db/auto-update").unlink(missing_ok=True)
    # A machine that had the package: its users and group go too, for a clean start.
    run("dpkg", "--purge", "tev-bridge", check=False)
    shutil.rmtree(ARGS.maker, ignore_errors=True)
    for user in (SERVICE_USER, *RENDER_USERS):
        run("userdel", user, check=False)
    run("groupdel", GROUP, check=False)
    result = unittest.main(argv=[sys.argv[0]] + REST, exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("deb-dir", "scratch", "sample-clip", "maker", "group", "service-user"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--inside", action="store_true")
    parser.add_argument("--deb")
    parser.add_argument("--newer-deb")
    ARGS, REST = parser.parse_known_args()
    GROUP, SERVICE_USER = ARGS.group, ARGS.service_user
    sys.exit(inside() if ARGS.inside else outside())
