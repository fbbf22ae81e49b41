"""The server's log file rotates by size and takes the standard descriptors that
wrote into it along to the new file; Python warnings become log lines."""
import logging
import os
import sys
import tempfile
import unittest
import warnings
from pathlib import Path

import support  # noqa: F401  (puts the server on the path)
from tevserver.logfile import FORMAT, RotatingLogHandler, log_to_file


class RotatingLogTest(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="tev-log-"))
        self.path = self.dir / "launcher.log"

    def tearDown(self):
        for p in self.dir.iterdir():
            p.unlink()
        self.dir.rmdir()

    def test_rotates_before_the_size_and_keeps_the_backups(self):
        # A descriptor opened like the plug-in's launcher does, and one on another file.
        launcher_fd = os.open(self.path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        other = self.dir / "other"
        other_fd = os.open(other, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        self.addCleanup(os.close, launcher_fd)
        self.addCleanup(os.close, other_fd)
        handler = RotatingLogHandler(str(self.path), 1000, 2, standard_fds=(launcher_fd, other_fd))
        self.addCleanup(handler.close)
        handler.setFormatter(logging.Formatter("%(message)s"))
        log = logging.getLogger("tevserver.test-rotation")
        log.propagate = False
        log.addHandler(handler)
        self.addCleanup(log.removeHandler, handler)
        for i in range(40):
            log.warning("line %02d %s", i, "x" * 90)
        os.write(launcher_fd, b"raw line from the runtime\n")

        files = sorted(p.name for p in self.dir.iterdir())
        self.assertEqual(files, ["launcher.log", "launcher.log.1", "launcher.log.2", "other"])
        for name in files[:3]:  # the current one also holds the raw line
            self.assertLessEqual((self.dir / name).stat().st_size, 1000 + (name == "launcher.log") * 26)
        current = self.path.read_text()
        self.assertIn("line 39", current)
        self.assertTrue(current.endswith("raw line from the runtime\n"))  # followed the rotation
        self.assertNotIn("raw line", (self.dir / "launcher.log.1").read_text())
        self.assertEqual(other.stat().st_size, 0)  # a descriptor on another file stays put

    def test_every_file_is_the_groups_and_a_link_in_its_place_is_refused(self):
        old_mask = os.umask(0o077)
        self.addCleanup(os.umask, old_mask)
        handler = RotatingLogHandler(str(self.path), 300, 2)
        self.addCleanup(handler.close)
        handler.setFormatter(logging.Formatter("%(message)s"))
        for i in range(10):
            handler.emit(logging.makeLogRecord({"msg": f"line {i} " + "x" * 90}))
        for name in ("launcher.log", "launcher.log.1", "launcher.log.2"):
            self.assertEqual((self.dir / name).stat().st_mode & 0o070, 0o060, name)
        elsewhere = self.dir / "not-a-log"
        elsewhere.write_text("kept\n")
        (self.dir / "linked.log").symlink_to(elsewhere)
        with self.assertRaises(OSError):
            RotatingLogHandler(str(self.dir / "linked.log"), 300, 2)
        self.assertEqual(elsewhere.read_text(), "kept\n")

    def test_warnings_are_logged_not_printed(self):
        root = logging.getLogger()
        saved = root.handlers[:], root.level
        handler = log_to_file(str(self.path), 1 << 20, 1)

        def restore():
            root.removeHandler(handler)
            handler.close()
            root.handlers[:], root.level = saved
            logging.captureWarnings(False)
        self.addCleanup(restore)
        with warnings.catch_warnings():
            warnings.simplefilter("always")
            stderr = sys.stderr
            sys.stderr = None  # a printed warning would fail here
            try:
                warnings.warn("overflow encountered", RuntimeWarning)
            finally:
                sys.stderr = stderr
        handler.flush()
        self.assertIn("RuntimeWarning: overflow encountered", self.path.read_text())
        self.assertTrue(FORMAT.startswith("%(asctime)s"))


if __name__ == "__main__":
    unittest.main()
